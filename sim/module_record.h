// The module's configuration record and its hexadecimal text.
#pragma once

#include <cstdint>

#include "sim_options.h"

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
