#include "wire_encoding.h"

#include "serial_port.h"

uint8_t HexDigit(uint8_t nibble) {
    return static_cast<uint8_t>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
}

void FormatHexPair(uint8_t value, uint8_t pair[2]) {
    pair[0] = HexDigit(value / 16);
    pair[1] = HexDigit(value % 16);
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

int16_t WriteByte(int16_t port, uint8_t byte) {
    return WritePort(port, &byte, 1);
}

int16_t WriteHexPair(int16_t port, uint8_t value) {
    uint8_t pair[2];
    FormatHexPair(value, pair);
    return WritePort(port, pair, 2);
}

int16_t WriteChecksumLine(int16_t port, uint16_t sum) {
    uint8_t line[5];
    FormatChecksumLine(sum, line);
    for (const uint8_t& byte : line) {
        if (WritePort(port, &byte, 1) != 0) {
            return 1;
        }
    }
    return 0;
}
