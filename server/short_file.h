// A short file (a token, a login) read whole by its UTF-8 name, through the
// wide call.
#pragma once

#include <string>

// The file's first bytes, at most room of them, in *text; false when it
// cannot be opened or read.
bool ReadShortFile(const std::string& name, size_t room, std::string* text);
