#include "port_table.h"

void DiscardInput(int16_t portNumber, int32_t milliseconds) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr) {
        return;
    }
    if (milliseconds < 0) {
        milliseconds = 0;
    }
    if (slot->directMode) {
        uint8_t scratch[2];
        while (ReadPort(portNumber, 1, 0, milliseconds, scratch, sizeof scratch) == 0) {
        }
        return;
    }
    Sleep(static_cast<DWORD>(milliseconds));
    slot->buffers->ring.readIndex = slot->buffers->ring.writeIndex.load();
}
