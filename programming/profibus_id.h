// The Profibus-ID job: the module's configuration record is read, its
// station address replaced by the chosen ID, and the record written back.
//
// The record is one line of hexadecimal text, two characters per value,
// high digit first.
#pragma once

#include <cstdint>

enum : int32_t {
    kConfigValues = 200,       // values a record may hold
    kShortestConfigText = 64,  // 32 values
    kLongestConfigText = 400,  // kConfigValues values
    kStationAddressValue = 14, // the value that holds the Profibus station address
};

// The record's write-back: 0x04, the hexadecimal pair of each of count
// values (0 to 255) in order, the checksum line of their sum and one more
// line feed; into text, which holds kRecordWriteRoom bytes. Its length.
enum : int32_t { kRecordWriteRoom = 1 + 2 * kConfigValues + 5 + 1 };
int32_t EncodeRecordWrite(const int16_t values[kConfigValues], int32_t count, uint8_t* text);

// Decodes a record text (up to its terminating zero). 0 with count values
// decoded when the text has an even length of 64 to 400 characters; 1 for
// any other length, before anything is decoded. The characters are not
// tested: one that is no hexadecimal digit counts as 0.
int16_t DecodeConfigRecord(const char* text, int16_t values[kConfigValues], int32_t* count);
