// The page's files, built into the program as resources (server/web/).
#pragma once

#include <string>

#include "http_guard.h"

// The page's file of route (the page, its style, its script) and its
// Content-Type; false for other routes or when the program lacks it.
bool PageFile(Route route, std::string* body, std::string* contentType);
