#include "device_io.h"

#include <cstring>

#include "device_calls.h"
#include "serial_port.h"
#include "wait_hook.h"

// The event with its low-order bit set: the operation's end is not queued to
// a completion port (the port has none). Some platforms (Wine among them)
// then complete an operation that ends at once at a fraction of the cost,
// which counts when every script byte is a write of its own.
static void PrepareRecord(OVERLAPPED* record, HANDLE event) {
    ZeroMemory(record, sizeof *record);
    record->hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
}

HANDLE RecordEvent(const OVERLAPPED* record) {
    return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(record->hEvent) &
                                    ~static_cast<ULONG_PTR>(1));
}

DeviceOutcome AwaitDeviceOperation(PortSlot* slot, OVERLAPPED* record, DWORD limitMs,
                                   DWORD* count) {
    *count = 0;
    if (AwaitObject(RecordEvent(record), limitMs) != WAIT_OBJECT_0) {
        deviceCalls.cancelIoEx(slot->portHandle, record);
        if (AwaitObject(RecordEvent(record), kCancelWaitMs) != WAIT_OBJECT_0) {
            return kDeviceKeepsIt;
        }
    }
    return deviceCalls.getOverlappedResult(slot->portHandle, record, count, FALSE) ? kDeviceDone
                                                                                   : kDeviceFailed;
}

bool DeviceReleased(HANDLE event, int16_t* stuck) {
    if (*stuck != 0 && WaitForSingleObject(event, 0) == WAIT_OBJECT_0) {
        *stuck = 0;
    }
    return *stuck == 0;
}

// Starts an operation on record; its outcome once the device has ended it.
static DeviceOutcome StartedOperation(PortSlot* slot, BOOL started, OVERLAPPED* record,
                                      DWORD limitMs, DWORD* count) {
    if (started) {
        *count = 0;
        return deviceCalls.getOverlappedResult(slot->portHandle, record, count, FALSE)
                   ? kDeviceDone
                   : kDeviceFailed;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        *count = 0;
        return kDeviceFailed;
    }
    return AwaitDeviceOperation(slot, record, limitMs, count);
}

// A read the device refused: a line error on a port that stops its reads
// until the error is cleared, or a device that has gone away. The error
// state is cleared and the caller pauses one read wait, so that a dead
// device costs no more than a silent one.
static void RecoverFromRefusedRead(PortSlot* slot) {
    DWORD errors = 0;
    deviceCalls.clearCommError(slot->portHandle, &errors, nullptr);
    PauseMs(kReadWaitMs);
}

int32_t ReadDevice(PortSlot* slot, DWORD waitMs) {
    if (!DeviceReleased(slot->read->event, &slot->read->stuck)) {
        PauseMs(kReadWaitMs);
        return -1;
    }
    BOOL ended = FALSE;
    if (slot->readPending == 0) {
        PrepareRecord(&slot->read->record, slot->read->event);
        ended = deviceCalls.readFile(slot->portHandle, slot->read->bytes, 1, nullptr,
                                     &slot->read->record);
        if (!ended && GetLastError() != ERROR_IO_PENDING) {
            RecoverFromRefusedRead(slot);
            return -1;
        }
        slot->readPending = ended ? 0 : 1;
    }
    // The device ends a read after its own wait for the first byte; one that
    // a device keeps waiting past that (some drivers wait for the byte
    // itself) is looked at again by the next read.
    if (!ended && AwaitObject(slot->read->event, waitMs) != WAIT_OBJECT_0) {
        return 0;
    }
    slot->readPending = 0;
    DWORD got = 0;
    if (!deviceCalls.getOverlappedResult(slot->portHandle, &slot->read->record, &got, FALSE)) {
        RecoverFromRefusedRead(slot);
        return -1;
    }
    return static_cast<int32_t>(got);
}

InputLook LookAtInput(PortSlot* slot) {
    if (slot->readPending != 0 && WaitForSingleObject(slot->read->event, 0) == WAIT_OBJECT_0) {
        DWORD got = 0;
        if (deviceCalls.getOverlappedResult(slot->portHandle, &slot->read->record, &got, FALSE) &&
            got == 1) {
            return kInputWaiting; // the next read takes it
        }
        slot->readPending = 0;
    }
    DWORD errors = 0;
    if (slot->readPending != 0) {
        // The device is asked how it stands all the same: a driver may keep
        // the read of a device that has gone for good.
        return deviceCalls.clearCommError(slot->portHandle, &errors, nullptr) ? kNoInputYet
                                                                              : kDeviceRefused;
    }
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    if (!deviceCalls.clearCommError(slot->portHandle, &errors, &status)) {
        return kDeviceRefused;
    }
    return status.cbInQue > 0 ? kInputWaiting : kNoInputYet;
}

void EndPendingRead(PortSlot* slot) {
    if (slot->readPending == 0) {
        return;
    }
    DWORD got = 0;
    if (AwaitDeviceOperation(slot, &slot->read->record, 0, &got) == kDeviceKeepsIt) {
        slot->read->stuck = 1;
    }
    slot->readPending = 0;
}

int16_t WriteDevice(PortSlot* slot, const uint8_t* bytes, int32_t length) {
    for (int32_t offset = 0; offset < length;) {
        if (!DeviceReleased(slot->writeEvent, &slot->writeStuck)) {
            return 1;
        }
        const int32_t chunk =
            length - offset < kDirectWriteChunk ? length - offset : kDirectWriteChunk;
        memcpy(slot->writeChunk, bytes + offset, static_cast<size_t>(chunk));
        PrepareRecord(&slot->writeRecord, slot->writeEvent);
        const int64_t startUs = NowMicroseconds();
        const BOOL started =
            deviceCalls.writeFile(slot->portHandle, slot->writeChunk, static_cast<DWORD>(chunk),
                                  nullptr, &slot->writeRecord);
        DWORD written = 0;
        const DeviceOutcome outcome = StartedOperation(
            slot, started, &slot->writeRecord, WireTimeMs(slot, chunk) + kWriteMarginMs, &written);
        if (outcome == kDeviceKeepsIt) {
            slot->writeStuck = 1;
        }
        if (written > 0) {
            NoteBytesSent(slot, static_cast<int32_t>(written), startUs);
        }
        if (outcome != kDeviceDone || written != static_cast<DWORD>(chunk)) {
            return 1;
        }
        offset += chunk;
    }
    return 0;
}

static DWORD BaudRate(const PortSlot* slot) {
    return slot->lineSettings.BaudRate > 0 ? slot->lineSettings.BaudRate : 1200;
}

DWORD WireTimeMs(const PortSlot* slot, int32_t count) {
    return static_cast<DWORD>(static_cast<int64_t>(count) * 12 * 1000 / BaudRate(slot) + 1);
}

int64_t LineFreeAfterWrite(int64_t lineFreeAtUs, int64_t startUs, int64_t nowUs, int32_t count,
                           DWORD baud) {
    const int64_t rate = baud > 0 ? baud : 1200;
    const int64_t start = lineFreeAtUs > startUs ? lineFreeAtUs : startUs;
    const int64_t free = start + static_cast<int64_t>(count) * 10 * 1000000 / rate;
    // No device holds more than its buffer: a write past it waits until
    // there is room, and so cannot be ahead of the wire by more.
    const int64_t mostAhead =
        nowUs + static_cast<int64_t>(kLargestDeviceBuffer) * 10 * 1000000 / rate;
    return free < mostAhead ? free : mostAhead;
}

void NoteBytesSent(PortSlot* slot, int32_t count, int64_t startUs) {
    slot->lineFreeAtUs =
        LineFreeAfterWrite(slot->lineFreeAtUs, startUs, NowMicroseconds(), count, BaudRate(slot));
}

int32_t WireDrainMs(const PortSlot* slot) {
    const int64_t left = slot->lineFreeAtUs - NowMicroseconds();
    return left > 0 ? static_cast<int32_t>((left + 999) / 1000) : 0;
}
