// Hexadecimal text as the module reads and writes it.
#pragma once

#include <cstdint>

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
