// A fixed ring of text lines that tell what the module did; the console
// program prints them. When nobody takes them, the oldest give way.
#pragma once

#include <cstdint>

enum : int32_t { kEventLines = 128, kEventLineLength = 128 };

struct EventLog {
    char lines[kEventLines][kEventLineLength];
    int32_t first; // oldest line not yet taken
    int32_t count;
    int32_t droppedCount;
};

void ClearEventLog(EventLog* log);

// Appends a printf-style line, cut to kEventLineLength - 1 characters.
void AddEvent(EventLog* log, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Copies the oldest line into line (capacity bytes, NUL-terminated) and
// removes it. False when the log is empty.
bool TakeEvent(EventLog* log, char* line, int32_t capacity);
