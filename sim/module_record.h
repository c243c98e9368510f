// The module's configuration record and the hexadecimal text it travels in:
// the digits as the module reads and writes them, the factory record, the
// reply to 0x15, and the state file that keeps the record across runs (one
// line of upper-case hexadecimal text).
#pragma once

#include <cstdint>

#include "sim_options.h"
#include "sim_report.h"

enum : int32_t { kDefaultRecordCount = 32, kStationAddressIndex = 14, kDefaultStationAddress = 3 };

// Writes the record of a module fresh from the factory (kDefaultRecordCount
// values, station address kDefaultStationAddress) and returns its count.
int32_t SetDefaultRecord(uint8_t* record);

// The record as upper-case hexadecimal text, NUL-terminated; the length, or
// -1 when it does not fit into capacity.
int32_t FormatRecordText(const uint8_t* record, int32_t count, char* text, int32_t capacity);

// Reads hexadecimal pairs from text up to its end, a CR or a LF. The number of
// values, or -1 when the text holds another character, an odd number of
// digits, no digit at all, or more than capacity values.
int32_t ParseRecordText(const char* text, uint8_t* record, int32_t capacity);

// The reply to 0x15: the record as hexadecimal text, changed by the options'
// configuration faults, then CR (and LF when configLineFeed is 1). Returns the
// reply's length; the reply is cut at capacity.
int32_t BuildConfigReply(const uint8_t* record, int32_t count, const SimOptions* options,
                         uint8_t* reply, int32_t capacity);

// Value of a hexadecimal digit of either case; -1 for any other character.
int16_t DigitValueOf(uint8_t character);

inline bool IsUpperHexDigit(uint8_t character) {
    return (character >= '0' && character <= '9') || (character >= 'A' && character <= 'F');
}

// Writes value as two digits, high nibble first, into text[0..1].
void PutHexByte(uint8_t value, bool lowerCase, char* text);

// The value of four digits (most significant first); false when one of them
// is not a hexadecimal digit.
bool ReadHexWord(const char* digits, uint16_t* value);

// Reads the record from the state file; the number of values, or -1 when the
// file cannot be read or holds no valid record.
int32_t LoadStateFile(const char* fileName, uint8_t* record, int32_t capacity);

// Writes the record to the state file, replacing it. 0 on success, 1 on failure.
int16_t SaveStateFile(const char* fileName, const uint8_t* record, int32_t count);
