#include "port_table.h"

PortSlot PortTable[kPortSlots];
std::atomic<int16_t> handshakeFlag{0};
int16_t platformIsNt = 0;

PortSlot* OpenSlot(int16_t portNumber) {
    if (!IsPortNumber(portNumber) || PortTable[portNumber].portHandle == nullptr) {
        return nullptr;
    }
    return &PortTable[portNumber];
}
