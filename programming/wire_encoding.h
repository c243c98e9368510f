// Bytes to the module travel as hexadecimal text: two upper-case digits per
// byte, high nibble first; a procedure ends its data with a checksum line,
// a line feed and the 16-bit byte sum in four digits.
#pragma once

#include <cstdint>

// "0".."9", "A".."F" for 0..15.
uint8_t HexDigit(uint8_t nibble);

// The two characters of a byte value.
void FormatHexPair(uint8_t value, uint8_t pair[2]);

// The pairs of count values, in order, into text (2 * count characters).
void FormatHexPairs(const uint8_t* values, int32_t count, uint8_t* text);

// sum with count values added, modulo 65536: the running sum of a checksum
// line.
uint16_t AddToSum(uint16_t sum, const uint8_t* values, int32_t count);

// The five bytes of a checksum line: 0x0A and the sum's digits, most
// significant first.
void FormatChecksumLine(uint16_t sum, uint8_t line[5]);

// The value of a hexadecimal digit in either case; any other character
// counts as 0.
uint8_t HexDigitValue(uint8_t character);

// ---- The firmware download's acknowledgements ----
//
// The module acknowledges the pairs of the first 96 script bytes, then those
// of every further 128. Between two acknowledgements the pairs go out without
// waiting: each such stretch is one write (192 characters before the first
// acknowledgement, 256 between two), and whatever a driver costs per write is
// paid once a stretch, not once a byte.

enum : int32_t {
    kFirstAckIndex = 95, // the script byte after whose pair the first acknowledgement comes
    kAckBlock = 128,     // script bytes between two acknowledgements
};

// True when an acknowledgement is awaited after the pair of script byte
// index: 95, 223, 351, ...
bool AcknowledgedAfter(int32_t index);

// The last script byte of the stretch that starts at first (0 <= first <
// size) in a script of size bytes: the byte after whose pair the next
// acknowledgement is awaited, or the script's last byte.
int32_t StretchEnd(int32_t first, int32_t size);

// The writes below give the port's status: 0 when every byte went out; 1
// when the device did not take them all (a stalled driver, an adapter gone),
// and the step then ends with its failure.

// Sends one byte as it is, in one write.
int16_t WriteByte(int16_t port, uint8_t byte);

// Sends the checksum line of sum in one write.
int16_t WriteChecksumLine(int16_t port, uint16_t sum);
