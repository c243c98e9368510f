// The log's download: the log file read piece by piece while the station
// (and other stations) append to it, so that a download of any length holds
// one piece in memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "byte_range.h"

// The log file, opened by its UTF-8 name through the wide call, shared for
// reading, writing and deleting: no station's append waits for it.
class LogFileReader {
  public:
    LogFileReader() = default;
    ~LogFileReader();
    LogFileReader(const LogFileReader&) = delete;
    LogFileReader& operator=(const LogFileReader&) = delete;

    // Empty when it opened, else the system's reason.
    std::string Open(const std::string& name);
    // Its size when opened: what a download sends at most.
    uint64_t Size() const {
        return size_;
    }
    // Reads up to room bytes from offset at; false on a failure. *got 0: the end.
    bool Read(uint64_t at, char* to, size_t room, size_t* got);

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint64_t size_ = 0;
};
