#include "hex_text.h"
#include "module_procedures.h"
#include "serial_port.h"

void WriteHexPair(int16_t port, uint8_t value) {
    uint8_t pair[2];
    FormatHexPair(value, pair);
    WritePort(port, pair, 2);
}
