// The file that keeps the module's configuration record across runs: one
// line of upper-case hexadecimal text.
#pragma once

#include <cstdint>

// Reads the record; the number of values, or -1 when the file cannot be read
// or holds no valid record.
int32_t LoadStateFile(const char* fileName, uint8_t* record, int32_t capacity);

// Writes the record, replacing the file. 0 on success, 1 on failure.
int16_t SaveStateFile(const char* fileName, const uint8_t* record, int32_t count);
