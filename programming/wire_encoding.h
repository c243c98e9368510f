// Bytes to the module travel as hexadecimal text: two upper-case digits per
// byte, high nibble first; a procedure ends its data with a checksum line,
// a line feed and the 16-bit byte sum in four digits.
#pragma once

#include <cstdint>

// "0".."9", "A".."F" for 0..15.
uint8_t HexDigit(uint8_t nibble);

// The two characters of a byte value.
void FormatHexPair(uint8_t value, uint8_t pair[2]);

// The five bytes of a checksum line: 0x0A and the sum's digits, most
// significant first.
void FormatChecksumLine(uint16_t sum, uint8_t line[5]);

// The value of a hexadecimal digit in either case; any other character
// counts as 0.
uint8_t HexDigitValue(uint8_t character);

// The writes below give the port's status: 0 when every byte went out; 1
// when the device did not take one (a stalled driver, an adapter gone), and
// the step then ends with its failure.

// Sends one byte as it is, in one write.
int16_t WriteByte(int16_t port, uint8_t byte);

// Sends a byte value as a hexadecimal pair in one write.
int16_t WriteHexPair(int16_t port, uint8_t value);

// Sends the checksum line of sum, one write per byte.
int16_t WriteChecksumLine(int16_t port, uint16_t sum);
