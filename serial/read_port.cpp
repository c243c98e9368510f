#include "port_table.h"
#include "read_buffer.h"
#include "receive_ring.h"
#include "trace_file.h"

// Direct mode: polls the device without pausing; the time-out is counted in
// the monitor thread's ticks and starts afresh with every byte.
static int16_t ReadFromDevice(PortSlot* slot, ReadTarget* target, int32_t timeoutMs) {
    const uint32_t tickLimit = static_cast<uint32_t>(timeoutMs / 50);
    for (;;) {
        const uint32_t startTick = slot->tickCount;
        uint8_t byte = 0;
        DWORD got = 0;
        for (;;) {
            if (slot->tickCount - startTick > tickLimit) {
                return 1;
            }
            if (ReadFile(slot->portHandle, &byte, 1, &got, nullptr) && got == 1) {
                break;
            }
            if (timeoutMs == 0) {
                return 1;
            }
        }
        TraceByte(slot, byte, kTraceReceived);
        ReadStep step = StoreReadByte(target, byte);
        if (step != kReadGoOn) {
            return step == kReadDone ? 0 : 2;
        }
    }
}

// Waits until the ring holds a byte. False when timeoutMs passes without one.
static bool AwaitRingByte(PortSlot* slot, int32_t timeoutMs) {
    while (RingIsEmpty(&slot->ring)) {
        if (timeoutMs == 0) {
            return false;
        }
        // Reset before the second look: a byte stored after it sets the event
        // again, so the wait below cannot miss it.
        ResetEvent(slot->dataArrivedEvent);
        if (!RingIsEmpty(&slot->ring)) {
            break;
        }
        if (WaitForSingleObject(slot->dataArrivedEvent, static_cast<DWORD>(timeoutMs)) !=
            WAIT_OBJECT_0) {
            return false;
        }
    }
    return true;
}

// Receive-thread mode: takes the bytes from the ring; the receive thread has
// traced them already.
static int16_t ReadFromRing(PortSlot* slot, ReadTarget* target, int32_t timeoutMs) {
    for (;;) {
        uint8_t byte = 0;
        if (!AwaitRingByte(slot, timeoutMs) || !RingTake(&slot->ring, &byte)) {
            return 1;
        }
        ReadStep step = StoreReadByte(target, byte);
        if (step != kReadGoOn) {
            return step == kReadDone ? 0 : 2;
        }
    }
}

int16_t ReadPort(int16_t portNumber, int32_t count, uint8_t terminator, int32_t timeoutMs,
                 uint8_t* buffer, int32_t capacity) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr || buffer == nullptr || count < 0 || capacity < 1 || count >= capacity) {
        return 1;
    }
    if (timeoutMs < 0) {
        timeoutMs = 0;
    }
    ReadTarget target = {buffer, capacity, count, terminator, 0};
    return slot->directMode ? ReadFromDevice(slot, &target, timeoutMs)
                            : ReadFromRing(slot, &target, timeoutMs);
}
