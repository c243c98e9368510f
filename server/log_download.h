// The log's download: which bytes a Range header asks for, and the log file
// read piece by piece while the station (and other stations) append to it,
// so that a download of any length holds one piece in memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The most of the file a download holds at once.
enum : size_t { kLogPiece = 64 * 1024 };

// What a download sends of a file of size bytes.
struct ByteRange {
    int status = 200;   // 200 the whole file, 206 a part, 416 nothing (beyond the end)
    uint64_t first = 0; // the first byte sent
    uint64_t count = 0; // the bytes sent
};

// range: the request's Range header, nullptr when it has none. "bytes=N-",
// "bytes=N-M" and "bytes=-N" (the last N bytes) are answered; a header of
// another form, or of several ranges, is passed over (the whole file).
ByteRange RangeOf(const std::string* range, uint64_t size);

// The answer's Content-Range for a 206 or a 416 ("bytes 10-99/100",
// "bytes */100"); empty for a 200.
std::string ContentRange(const ByteRange& range, uint64_t size);

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
