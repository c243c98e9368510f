#include "wire_encoding.h"

uint8_t HexDigit(uint8_t nibble) {
    return static_cast<uint8_t>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
}

void FormatHexPair(uint8_t value, uint8_t pair[2]) {
    pair[0] = HexDigit(value / 16);
    pair[1] = HexDigit(value % 16);
}

void FormatHexPairs(const uint8_t* values, int32_t count, uint8_t* text) {
    for (int32_t k = 0; k < count; ++k) {
        FormatHexPair(values[k], text + 2 * k);
    }
}

uint16_t AddToSum(uint16_t sum, const uint8_t* values, int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
        sum = static_cast<uint16_t>(sum + values[k]);
    }
    return sum;
}

void FormatChecksumLine(uint16_t sum, uint8_t line[5]) {
    line[0] = 0x0A;
    for (int k = 0; k < 4; ++k) {
        line[1 + k] = HexDigit((sum >> (12 - 4 * k)) % 16);
    }
}

uint8_t HexDigitValue(uint8_t character) {
    if (character >= '0' && character <= '9') {
        return static_cast<uint8_t>(character - '0');
    }
    if (character >= 'A' && character <= 'F') {
        return static_cast<uint8_t>(character - 'A' + 10);
    }
    if (character >= 'a' && character <= 'f') {
        return static_cast<uint8_t>(character - 'a' + 10);
    }
    return 0;
}

bool AcknowledgedAfter(int32_t index) {
    return index >= kFirstAckIndex && (index - kFirstAckIndex) % kAckBlock == 0;
}

int32_t StretchEnd(int32_t first, int32_t size) {
    int32_t ack = kFirstAckIndex;
    if (first > kFirstAckIndex) {
        // The first acknowledgement point at or after first.
        ack += (first - kFirstAckIndex + kAckBlock - 1) / kAckBlock * kAckBlock;
    }
    return ack < size - 1 ? ack : size - 1;
}
