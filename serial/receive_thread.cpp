#include "receive_thread.h"

#include "device_calls.h"
#include "device_io.h"
#include "port_table.h"
#include "write_and_trace.h"

static int16_t NextIndex(int32_t index) {
    return static_cast<int16_t>((index + 1) % kRingSize);
}

int32_t RingFreeCells(const ReceiveRing* ring) {
    int32_t unread = (ring->writeIndex - ring->readIndex + kRingSize) % kRingSize;
    return kRingSize - 1 - unread;
}

// Makes the ring read empty, dropping every unread byte: the reader is moved
// up to the writer. A reader takes a byte only by moving readIndex on from
// where it found it (a compare-exchange), so a take under way when the drop
// comes fails and looks again; readIndex can never pass writeIndex, where
// the ring would read as full of stale cells.
static void DropUnread(ReceiveRing* ring) {
    ring->readIndex = ring->writeIndex.load();
}

bool RingStore(ReceiveRing* ring, uint8_t byte, bool marked) {
    // The free cells can only grow while we look: the reader alone frees them.
    if (RingFreeCells(ring) < RingCellsNeeded(marked)) {
        DropUnread(ring);
        return false;
    }
    const uint8_t plain[1] = {byte};
    const uint8_t framed[3] = {'{', byte, '}'};
    const uint8_t* cells = marked ? framed : plain;
    int32_t index = ring->writeIndex;
    for (int32_t i = 0; i < RingCellsNeeded(marked); ++i) {
        ring->data[index] = cells[i];
        index = NextIndex(index);
    }
    ring->writeIndex = static_cast<int16_t>(index);
    return true;
}

bool RingTake(ReceiveRing* ring, uint8_t* byte) {
    int16_t index = ring->readIndex;
    for (;;) {
        if (index == ring->writeIndex) {
            return false;
        }
        const uint8_t taken = ring->data[index];
        // Fails, with index updated, when the writer dropped the unread
        // bytes meanwhile.
        if (ring->readIndex.compare_exchange_strong(index, NextIndex(index))) {
            *byte = taken;
            return true;
        }
    }
}

static bool ParityFailed(PortSlot* slot) {
    if (slot->parityCheck != 1) {
        return false;
    }
    DWORD errors = 0;
    deviceCalls.clearCommError(slot->portHandle, &errors, nullptr);
    return (errors & CE_RXPARITY) != 0;
}

// How many bytes the next read asks for: those already waiting in the
// device, at least one. A burst then costs one platform read instead of one
// per byte (a read costs far more than a byte's handling on some platforms),
// and a lone byte is still taken the moment it arrives. With parity checking
// every read takes one byte, so that the device's error state belongs to it.
static DWORD NextReadCount(PortSlot* slot) {
    if (slot->parityCheck == 1) {
        return 1;
    }
    DWORD errors = 0;
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    deviceCalls.clearCommError(slot->portHandle, &errors, &status);
    if (status.cbInQue <= 1) {
        return 1;
    }
    const DWORD chunk = kReadChunk;
    return status.cbInQue < chunk ? status.cbInQue : chunk;
}

static void ReceiveByte(PortSlot* slot, uint8_t byte, bool marked) {
    if (RingFreeCells(&slot->buffers->ring) < RingCellsNeeded(marked)) {
        // Holds up reception until the user answers; the device queue keeps
        // what arrives meanwhile.
        MessageBoxA(nullptr, "BUFFER-OVERFLOW", "RS232-ERROR", MB_OKCANCEL | MB_ICONEXCLAMATION);
    }
    RingStore(&slot->buffers->ring, byte, marked);
    TraceByte(slot, byte, kTraceReceived);
    if (slot->byteCallback != nullptr) {
        slot->byteCallback(slot->callbackTag, &slot->buffers->ring.readIndex,
                           &slot->buffers->ring.writeIndex, slot->buffers->ring.data);
    }
}

static void ReceiveBytes(PortSlot* slot, const uint8_t* bytes, DWORD count) {
    bool marked = count == 1 && ParityFailed(slot);
    for (DWORD i = 0; i < count; ++i) {
        ReceiveByte(slot, bytes[i], marked);
    }
    // The event stays set until a reader resets it before looking at the
    // ring, so a byte stored while a reader gets ready to wait is never slept
    // through.
    SetEvent(slot->dataArrivedEvent);
}

// Pause after a read that failed at once, so that a device that refuses every
// read (one that has gone away) does not keep this time-critical thread busy.
enum : DWORD { kFailedReadPauseMs = 20 };

// The outcome of one read of the loop.
enum ReadOutcome { kReadBytes, kReadStillPending, kReadFailed };

// The bytes of the slot's ended read.
static ReadOutcome EndedRead(PortSlot* slot, DWORD* count) {
    if (!deviceCalls.getOverlappedResult(slot->portHandle, &slot->read->record, count, FALSE) ||
        *count == 0) {
        *count = 0;
        return kReadFailed;
    }
    return kReadBytes;
}

// Starts a read into the slot's read bytes, or looks after the pending one
// for up to 500 ms.
static ReadOutcome ReadOnce(PortSlot* slot, bool* pending, DWORD* count) {
    *count = 0;
    OVERLAPPED* record = &slot->read->record;
    if (!*pending) {
        ZeroMemory(record, sizeof *record);
        record->hEvent = slot->read->event;
        if (deviceCalls.readFile(slot->portHandle, slot->read->bytes, NextReadCount(slot), nullptr,
                                 record)) {
            return EndedRead(slot, count);
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return kReadFailed;
        }
        *pending = true;
    }
    if (WaitForSingleObject(record->hEvent, 500) != WAIT_OBJECT_0) {
        return kReadStillPending;
    }
    *pending = false;
    return EndedRead(slot, count);
}

DWORD WINAPI ReceiveThread(LPVOID argument) {
    int16_t portNumber = static_cast<int16_t>(reinterpret_cast<intptr_t>(argument));
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    PortSlot* slot = &PortTable[portNumber];
    bool readPending = false;

    slot->receiveRunning = 1;
    slot->buffers->ring.readIndex = 0;
    slot->buffers->ring.writeIndex = 0;
    slot->handshakeFlag = 1;

    do {
        DWORD count = 0;
        switch (ReadOnce(slot, &readPending, &count)) {
        case kReadBytes:
            ReceiveBytes(slot, slot->read->bytes, count);
            break;
        case kReadFailed: {
            // A line error on a port that stops on errors is cleared here.
            DWORD errors = 0;
            deviceCalls.clearCommError(slot->portHandle, &errors, nullptr);
            Sleep(kFailedReadPauseMs);
            break;
        }
        case kReadStillPending:
            break;
        }
    } while (slot->receiveRunning == 1);

    // The device writes into the slot's read record and bytes until the read
    // has ended: the thread waits for that, within a bound. A read that the
    // device keeps even so stays the slot's, which is not opened again until
    // the read has ended.
    if (readPending) {
        DWORD count = 0;
        if (AwaitDeviceOperation(slot, &slot->read->record, 0, &count) == kDeviceKeepsIt) {
            slot->read->stuck = 1;
        }
    }
    Sleep(10);
    slot->handshakeFlag = 0;
    return 0;
}
