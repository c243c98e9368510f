// The token file read from the disk; its text is read by TokenFromFileText
// (serve_option.cpp).
#include <windows.h>

#include "serve_option.h"
#include "utf8_file_names.h"

std::string ReadTokenFile(const std::string& name, std::string* token) {
    const std::string cannot = "the token file \"" + name + "\" cannot be read";
    HANDLE file = OpenUtf8NamedFile(name.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        return cannot;
    }
    // The secret is on the first line: a few hundred bytes are plenty.
    char bytes[4096];
    DWORD got = 0;
    const BOOL read = ReadFile(file, bytes, sizeof bytes, &got, nullptr);
    CloseHandle(file);
    if (!read) {
        return cannot;
    }
    const std::string problem = TokenFromFileText(std::string(bytes, got), token);
    return problem.empty() ? "" : "the token file \"" + name + "\": " + problem;
}
