#include "log_download.h"

#include "run_texts.h"
#include "utf8_file_names.h"

LogFileReader::~LogFileReader() {
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
    }
}

std::string LogFileReader::Open(const std::string& name) {
    file_ = OpenUtf8NamedFile(name.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
    LARGE_INTEGER size;
    if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size)) {
        return SystemMessage(GetLastError());
    }
    size_ = static_cast<uint64_t>(size.QuadPart);
    return "";
}

bool LogFileReader::Read(uint64_t at, char* to, size_t room, size_t* got) {
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    if (!ReadFile(file_, to, static_cast<DWORD>(room), &read, &where)) {
        *got = 0;
        return GetLastError() == ERROR_HANDLE_EOF;
    }
    *got = read;
    return true;
}
