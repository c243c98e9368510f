// Received bytes reach the module through the serial layer's byte callback:
// it takes every byte out of the ring and feeds it to the machine.
#include "port_table.h"
#include "simulator_state.h"

void OnReceivedBytes(int16_t /*callbackTag*/, std::atomic<int16_t>* readIndex,
                     std::atomic<int16_t>* writeIndex, uint8_t* data) {
    int64_t now = NowTicks();
    AcquireSRWLockExclusive(&simLock);
    int16_t index = *readIndex;
    while (index != *writeIndex) {
        uint8_t byte = data[index];
        index = static_cast<int16_t>((index + 1) % kRingSize);
        *readIndex = index;
        TakeReceivedByte(byte, now);
    }
    ReleaseSRWLockExclusive(&simLock);
}
