// The configuration record's text: decoded from the module's line, and
// encoded for its write-back. No port and no platform here.
#include "profibus_id.h"

#include <cstring>

#include "wire_encoding.h"

int16_t DecodeConfigRecord(const char* text, int16_t values[kConfigValues], int32_t* count) {
    const size_t length = strnlen(text, kLongestConfigText + 1);
    if (length < kShortestConfigText || length > kLongestConfigText || length % 2 != 0) {
        return 1;
    }
    *count = static_cast<int32_t>(length / 2);
    for (int32_t k = 0; k < *count; ++k) {
        uint8_t high = HexDigitValue(static_cast<uint8_t>(text[2 * k]));
        uint8_t low = HexDigitValue(static_cast<uint8_t>(text[2 * k + 1]));
        values[k] = static_cast<int16_t>(16 * high + low);
    }
    return 0;
}

int32_t EncodeRecordWrite(const int16_t values[kConfigValues], int32_t count, uint8_t* text) {
    int32_t length = 0;
    text[length++] = 0x04;
    uint16_t sum = 0;
    for (int32_t k = 0; k < count; ++k) {
        const uint8_t value = static_cast<uint8_t>(values[k]);
        FormatHexPair(value, text + length);
        length += 2;
        sum = static_cast<uint16_t>(sum + value);
    }
    FormatChecksumLine(sum, text + length);
    length += 5;
    text[length++] = 0x0A;
    return length;
}
