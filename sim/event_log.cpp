#include "event_log.h"

#include <cstdarg>
#include <cstdio>

void ClearEventLog(EventLog* log) {
    log->first = 0;
    log->count = 0;
    log->droppedCount = 0;
}

void AddEvent(EventLog* log, const char* format, ...) {
    if (log->count == kEventLines) {
        log->first = (log->first + 1) % kEventLines;
        log->count--;
        log->droppedCount++;
    }
    char* line = log->lines[(log->first + log->count) % kEventLines];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, kEventLineLength, format, arguments);
    va_end(arguments);
    log->count++;
}

bool TakeEvent(EventLog* log, char* line, int32_t capacity) {
    if (log->count == 0 || capacity < 1) {
        return false;
    }
    snprintf(line, static_cast<size_t>(capacity), "%s", log->lines[log->first]);
    log->first = (log->first + 1) % kEventLines;
    log->count--;
    return true;
}
