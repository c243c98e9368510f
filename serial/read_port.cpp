// Reading a port: ReadPort, AwaitInput and DiscardInput in both modes.
#include "serial_port.h"

#include "device_calls.h"
#include "port_table.h"
#include "read_buffer.h"
#include "receive_thread.h"
#include "write_and_trace.h"

ReadStep StoreReadByte(ReadTarget* target, uint8_t byte) {
    if (target->count == 0 && byte == target->terminator) {
        target->buffer[target->stored] = 0;
        return kReadDone;
    }
    if (target->stored >= target->capacity - 1) {
        target->buffer[target->stored] = 0;
        return kReadFull;
    }
    target->buffer[target->stored++] = byte;
    if (target->count > 0 && target->stored == target->count) {
        target->buffer[target->stored] = 0;
        return kReadDone;
    }
    return kReadGoOn;
}

// A read the device refused: a line error on a port that stops its reads
// until the error is cleared, or a device that has gone away. The error state
// is cleared, and the caller pauses as long as a read would have waited, so
// a dead device costs no more than a silent one.
static void RecoverFromRefusedRead(PortSlot* slot) {
    DWORD errors = 0;
    deviceCalls.clearCommError(slot->portHandle, &errors, nullptr);
    Sleep(kReadWaitMs);
}

// One byte from the device, waiting up to kReadWaitMs for it.
static bool AwaitDeviceByte(PortSlot* slot, uint8_t* byte) {
    DWORD got = 0;
    if (!deviceCalls.readFile(slot->portHandle, byte, 1, &got, nullptr)) {
        RecoverFromRefusedRead(slot);
        return false;
    }
    return got == 1;
}

// Whether the device holds a received byte.
static bool DeviceHoldsInput(PortSlot* slot) {
    DWORD errors = 0;
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    return deviceCalls.clearCommError(slot->portHandle, &errors, &status) && status.cbInQue > 0;
}

// One byte only when the device holds one already: the read then returns at
// once instead of waiting.
static bool TakeWaitingByte(PortSlot* slot, uint8_t* byte) {
    return DeviceHoldsInput(slot) && AwaitDeviceByte(slot, byte);
}

// Direct mode: the time-out is counted in the monitor thread's ticks and
// starts afresh with every byte.
static int16_t ReadFromDevice(PortSlot* slot, ReadTarget* target, int32_t timeoutMs) {
    const uint32_t tickLimit = static_cast<uint32_t>(timeoutMs / 50);
    for (;;) {
        const uint32_t startTick = slot->tickCount;
        uint8_t byte = 0;
        for (;;) {
            if (slot->tickCount - startTick > tickLimit) {
                return 1;
            }
            if (timeoutMs == 0) {
                if (!TakeWaitingByte(slot, &byte)) {
                    return 1;
                }
                break;
            }
            if (AwaitDeviceByte(slot, &byte)) {
                break;
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
    while (RingIsEmpty(&slot->buffers->ring)) {
        if (timeoutMs == 0) {
            return false;
        }
        // Reset before the second look: a byte stored after it sets the event
        // again, so the wait below cannot miss it.
        ResetEvent(slot->dataArrivedEvent);
        if (!RingIsEmpty(&slot->buffers->ring)) {
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
        if (!AwaitRingByte(slot, timeoutMs) || !RingTake(&slot->buffers->ring, &byte)) {
            return 1;
        }
        ReadStep step = StoreReadByte(target, byte);
        if (step != kReadGoOn) {
            return step == kReadDone ? 0 : 2;
        }
    }
}

int16_t AwaitInput(int16_t portNumber, int32_t timeoutMs) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr) {
        return 1;
    }
    if (!slot->directMode) {
        return AwaitRingByte(slot, timeoutMs < 0 ? 0 : timeoutMs) ? 0 : 1;
    }
    const ULONGLONG start = GetTickCount64();
    while (!DeviceHoldsInput(slot)) {
        if (GetTickCount64() - start >= static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs)) {
            return 1;
        }
        Sleep(kReadWaitMs);
    }
    return 0;
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
