#include "state_file.h"

#include <windows.h>

#include "module_record.h"
#include "sim_report.h"

enum : int32_t { kStateTextCapacity = 2 * kRecordCapacity + 8 };

int32_t LoadStateFile(const char* fileName, uint8_t* record, int32_t capacity) {
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    char text[kStateTextCapacity];
    DWORD got = 0;
    BOOL read = ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    if (!read) {
        return -1;
    }
    text[got] = 0;
    return ParseRecordText(text, record, capacity);
}

int16_t SaveStateFile(const char* fileName, const uint8_t* record, int32_t count) {
    char text[kStateTextCapacity];
    int32_t length = FormatRecordText(record, count, text, sizeof text - 2);
    if (length < 0) {
        return 1;
    }
    text[length++] = '\r';
    text[length++] = '\n';
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
    return ok && written == static_cast<DWORD>(length) ? 0 : 1;
}
