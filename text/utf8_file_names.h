// Files named in UTF-8 (the console program's names, as its command line
// gave them), opened through the platform's wide calls: a name beyond the
// system's code page reaches the file system whole on every Windows, not only
// where the program's 8-bit calls take UTF-8 (Windows 10 version 1903 on).
// Any thread may call these: they keep their conversion on its stack.
#pragma once

#include <windows.h>

#include <cstdint>

// Room, in 16-bit characters with the terminator, of a name's wide form.
enum : int32_t { kWideNameRoom = 2048 };

// The UTF-16 form of the zero-terminated UTF-8 name into out (room 16-bit
// characters), whole or not at all. The characters stored, terminator
// included; 0 when the name does not fit (last error
// ERROR_FILENAME_EXCED_RANGE) or is no UTF-8 (ERROR_NO_UNICODE_TRANSLATION),
// out then holding an empty text.
int32_t WidenUtf8Name(const char* name, WCHAR* out, int32_t room);

// CreateFileW on the name's UTF-16 form, without security attributes or
// template; INVALID_HANDLE_VALUE, with WidenUtf8Name's last error, when the
// name cannot be converted.
HANDLE OpenUtf8NamedFile(const char* name, DWORD access, DWORD shareMode, DWORD disposition,
                         DWORD flagsAndAttributes);

// DeleteFileW on the name's UTF-16 form.
BOOL DeleteUtf8NamedFile(const char* name);
