// The writes of the encodings to the module's port.
#include "serial_port.h"
#include "wire_encoding.h"

int16_t WriteByte(int16_t port, uint8_t byte) {
    return WritePort(port, &byte, 1);
}

int16_t WriteChecksumLine(int16_t port, uint16_t sum) {
    uint8_t line[5];
    FormatChecksumLine(sum, line);
    return WritePort(port, line, sizeof line);
}
