// Filling the caller's buffer of a ReadPort, shared by both port modes.
#pragma once

#include <cstdint>

enum ReadStep { kReadGoOn, kReadDone, kReadFull };

// Where the bytes of one read go: capacity bytes at buffer, count bytes
// wanted (0: up to terminator), stored so far.
struct ReadTarget {
    uint8_t* buffer;
    int32_t capacity;
    int32_t count;
    uint8_t terminator;
    int32_t stored;
};

// Takes one received byte. kReadDone when the read is complete (its NUL
// written), kReadFull when the byte does not fit before the closing NUL (the
// text so far is closed with a NUL all the same), kReadGoOn otherwise.
// Nothing is ever written past capacity.
ReadStep StoreReadByte(ReadTarget* target, uint8_t byte);
