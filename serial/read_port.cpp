// Reading a port: ReadPort, AwaitInput and DiscardInput in both modes.
#include "serial_port.h"

#include "device_calls.h"
#include "device_io.h"
#include "port_table.h"
#include "read_port.h"
#include "receive_thread.h"
#include "wait_hook.h"
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

// One byte from the device, waiting up to waitMs for it.
static bool AwaitDeviceByte(PortSlot* slot, uint8_t* byte, DWORD waitMs) {
    if (ReadDevice(slot, waitMs) != 1) {
        return false;
    }
    *byte = slot->read->bytes[0];
    return true;
}

// One byte only when the device holds one already: the read then returns at
// once instead of waiting.
static bool TakeWaitingByte(PortSlot* slot, uint8_t* byte) {
    if (slot->readPending) {
        return AwaitDeviceByte(slot, byte, 0);
    }
    return LookAtInput(slot) == kInputWaiting && AwaitDeviceByte(slot, byte, kReadWaitMs);
}

// The reply to bytes just written can only start once they have left the
// wire: the first byte's time-out counts from then, however early the
// device (an adapter with a buffer of its own) took them.
static int32_t FirstByteTimeoutMs(const PortSlot* slot, int32_t timeoutMs) {
    return timeoutMs > 0 ? timeoutMs + WireDrainMs(slot) : 0;
}

// Direct mode: the time-out is counted in the monitor thread's ticks and
// starts afresh with every byte.
static int16_t ReadFromDevice(PortSlot* slot, ReadTarget* target, int32_t timeoutMs) {
    int32_t byteTimeoutMs = FirstByteTimeoutMs(slot, timeoutMs);
    for (;;) {
        const uint32_t tickLimit = static_cast<uint32_t>(byteTimeoutMs / 50);
        const uint32_t startTick = slot->tickCount;
        uint8_t byte = 0;
        for (;;) {
            if (slot->tickCount - startTick > tickLimit || slot->interrupted != 0) {
                return 1;
            }
            if (timeoutMs == 0) {
                if (!TakeWaitingByte(slot, &byte)) {
                    return 1;
                }
                break;
            }
            if (AwaitDeviceByte(slot, &byte, kReadWaitMs)) {
                break;
            }
        }
        TraceByte(slot, byte, kTraceReceived);
        ReadStep step = StoreReadByte(target, byte);
        if (step != kReadGoOn) {
            return step == kReadDone ? 0 : 2;
        }
        byteTimeoutMs = timeoutMs;
    }
}

// Longest wait for the ring between two looks at the port's interruption.
enum : int32_t { kInterruptLookMs = 50 };

// Waits until the ring holds a byte. False when timeoutMs passes without one,
// or the port is interrupted.
static bool AwaitRingByte(PortSlot* slot, int32_t timeoutMs) {
    const ULONGLONG startMs = GetTickCount64();
    if (slot->interrupted != 0) {
        return false;
    }
    while (RingIsEmpty(&slot->buffers->ring)) {
        const ULONGLONG elapsedMs = GetTickCount64() - startMs;
        if (slot->interrupted != 0 || elapsedMs >= static_cast<ULONGLONG>(timeoutMs)) {
            return false;
        }
        const int32_t leftMs = timeoutMs - static_cast<int32_t>(elapsedMs);
        // Reset before the second look: a byte stored after it sets the event
        // again, so the wait below cannot miss it.
        ResetEvent(slot->dataArrivedEvent);
        if (!RingIsEmpty(&slot->buffers->ring)) {
            break;
        }
        AwaitObject(slot->dataArrivedEvent,
                    static_cast<DWORD>(leftMs < kInterruptLookMs ? leftMs : kInterruptLookMs));
    }
    return true;
}

// Receive-thread mode: takes the bytes from the ring; the receive thread has
// traced them already.
static int16_t ReadFromRing(PortSlot* slot, ReadTarget* target, int32_t timeoutMs) {
    int32_t byteTimeoutMs = FirstByteTimeoutMs(slot, timeoutMs);
    for (;;) {
        uint8_t byte = 0;
        if (!AwaitRingByte(slot, byteTimeoutMs) || !RingTake(&slot->buffers->ring, &byte)) {
            return 1;
        }
        ReadStep step = StoreReadByte(target, byte);
        if (step != kReadGoOn) {
            return step == kReadDone ? 0 : 2;
        }
        byteTimeoutMs = timeoutMs;
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
    int32_t refusals = 0;
    for (;;) {
        if (slot->interrupted != 0) {
            return 1;
        }
        const InputLook look = LookAtInput(slot);
        if (look == kInputWaiting) {
            return 0;
        }
        refusals = look == kDeviceRefused ? refusals + 1 : 0;
        if (refusals >= kGoneRefusals) {
            return kDeviceGone;
        }
        if (GetTickCount64() - start >= static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs)) {
            return 1;
        }
        PauseMs(kReadWaitMs);
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

int16_t DiscardInput(int16_t portNumber, int32_t milliseconds) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr) {
        return 0;
    }
    if (milliseconds < 0) {
        milliseconds = 0;
    }
    if (slot->directMode) {
        // A device that never falls silent (a GPS, a scale, a console) is
        // given up on after a bound, so that the step after the discard (the
        // detection, a reply's read) judges it instead of waiting for ever.
        const ULONGLONG startMs = GetTickCount64();
        const ULONGLONG limitMs = static_cast<ULONGLONG>(milliseconds) + kDiscardOverrunMs;
        uint8_t scratch[2];
        for (int32_t dropped = 0;
             ReadPort(portNumber, 1, 0, milliseconds, scratch, sizeof scratch) == 0; ++dropped) {
            if (dropped + 1 >= kDiscardByteLimit || GetTickCount64() - startMs >= limitMs) {
                return 1;
            }
        }
        return 0;
    }
    PauseMs(static_cast<DWORD>(milliseconds));
    slot->buffers->ring.readIndex = slot->buffers->ring.writeIndex.load();
    return 0;
}
