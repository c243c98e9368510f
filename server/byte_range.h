// Which bytes of a file a request's Range header asks for, and the answer's
// Content-Range: plain logic over the header's text, for the log's download.
#pragma once

#include <cstddef>
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
