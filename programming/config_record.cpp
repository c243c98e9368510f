#include "config_record.h"

#include <cstring>

#include "hex_text.h"

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
