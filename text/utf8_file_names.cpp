#include "utf8_file_names.h"

int32_t WidenUtf8Name(const char* name, WCHAR* out, int32_t room) {
    if (room <= 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const int32_t stored = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, out, room);
    if (stored == 0) {
        out[0] = 0;
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        }
    }
    return stored;
}

HANDLE OpenUtf8NamedFile(const char* name, DWORD access, DWORD shareMode, DWORD disposition,
                         DWORD flagsAndAttributes) {
    WCHAR wideName[kWideNameRoom];
    if (WidenUtf8Name(name, wideName, kWideNameRoom) == 0) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wideName, access, shareMode, nullptr, disposition, flagsAndAttributes,
                       nullptr);
}

BOOL DeleteUtf8NamedFile(const char* name) {
    WCHAR wideName[kWideNameRoom];
    if (WidenUtf8Name(name, wideName, kWideNameRoom) == 0) {
        return FALSE;
    }
    return DeleteFileW(wideName);
}
