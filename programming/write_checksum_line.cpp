#include "hex_text.h"
#include "module_procedures.h"
#include "serial_port.h"

void WriteChecksumLine(int16_t port, uint16_t sum) {
    uint8_t line[5];
    FormatChecksumLine(sum, line);
    for (const uint8_t& byte : line) {
        WritePort(port, &byte, 1);
    }
}
