// What the station's server sends from elsewhere than the station's state:
// the page's files, built into the program as resources (cli/web/), and
// the station's log file as written so far.
#pragma once

#include <string>

#include "http_guard.h"

// The page's file of route (the page, its style, its script) and its
// Content-Type; false for other routes or when the program lacks it.
bool PageFile(Route route, std::string* body, std::string* contentType);

// Reads the whole file name (UTF-8) while the station may append to it.
// Empty when it could, else the system's reason.
std::string ReadGrowingFile(const std::string& name, std::string* text);
