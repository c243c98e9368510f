#include "short_file.h"

#include <windows.h>

#include "utf8_file_names.h"

bool ReadShortFile(const std::string& name, size_t room, std::string* text) {
    HANDLE file = OpenUtf8NamedFile(name.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    text->assign(room, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(file, &(*text)[0], static_cast<DWORD>(room), &got, nullptr);
    CloseHandle(file);
    text->resize(read ? got : 0);
    return read != FALSE;
}
