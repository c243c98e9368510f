#include "module_hex.h"

int16_t DigitValueOf(uint8_t character) {
    if (character >= '0' && character <= '9') {
        return static_cast<int16_t>(character - '0');
    }
    if (character >= 'A' && character <= 'F') {
        return static_cast<int16_t>(character - 'A' + 10);
    }
    if (character >= 'a' && character <= 'f') {
        return static_cast<int16_t>(character - 'a' + 10);
    }
    return -1;
}

void PutHexByte(uint8_t value, bool lowerCase, char* text) {
    const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    text[0] = digits[value >> 4];
    text[1] = digits[value & 0x0F];
}

bool ReadHexWord(const char* digits, uint16_t* value) {
    uint16_t result = 0;
    for (int i = 0; i < 4; ++i) {
        int16_t digit = DigitValueOf(static_cast<uint8_t>(digits[i]));
        if (digit < 0) {
            *value = 0;
            return false;
        }
        result = static_cast<uint16_t>((result << 4) | digit);
    }
    *value = result;
    return true;
}
