#include "receive_thread.h"

#include "device_calls.h"
#include "port_table.h"
#include "write_and_trace.h"

static int16_t NextIndex(int32_t index) {
    return static_cast<int16_t>((index + 1) % kRingSize);
}

int32_t RingFreeCells(const ReceiveRing* ring) {
    int32_t unread = (ring->writeIndex - ring->readIndex + kRingSize) % kRingSize;
    return kRingSize - 1 - unread;
}

// Makes the ring read empty, dropping every unread byte. The reader may
// take bytes meanwhile, so writeIndex follows readIndex until the two meet
// and stay met: writeIndex is never left behind readIndex, where the ring
// would read as full of stale cells.
static void DropUnread(ReceiveRing* ring) {
    int16_t read = ring->readIndex;
    for (;;) {
        ring->writeIndex = read;
        const int16_t now = ring->readIndex;
        if (now == read) {
            return;
        }
        read = now;
    }
}

void RingStore(ReceiveRing* ring, uint8_t byte, bool marked) {
    // The free cells can only grow while we look: the reader alone frees them.
    if (RingFreeCells(ring) < RingCellsNeeded(marked)) {
        DropUnread(ring);
        return;
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
}

bool RingTake(ReceiveRing* ring, uint8_t* byte) {
    int16_t index = ring->readIndex;
    if (index == ring->writeIndex) {
        return false;
    }
    *byte = ring->data[index];
    ring->readIndex = NextIndex(index);
    return true;
}

static bool ParityFailed(PortSlot* slot) {
    if (slot->parityCheck != 1) {
        return false;
    }
    DWORD errors = 0;
    deviceCalls.clearCommError(slot->portHandle, &errors, nullptr);
    return (errors & CE_RXPARITY) != 0;
}

// Bytes one read takes at most.
enum : DWORD { kReadChunk = 256 };

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
    return status.cbInQue < kReadChunk ? status.cbInQue : kReadChunk;
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

// Starts a read, or looks after the pending one for up to 500 ms.
static ReadOutcome ReadOnce(PortSlot* slot, OVERLAPPED* record, uint8_t* bytes, bool* pending,
                            DWORD* count) {
    *count = 0;
    if (!*pending) {
        if (deviceCalls.readFile(slot->portHandle, bytes, NextReadCount(slot), count, record)) {
            return *count > 0 ? kReadBytes : kReadFailed;
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
    if (!deviceCalls.getOverlappedResult(slot->portHandle, record, count, FALSE) || *count == 0) {
        *count = 0;
        return kReadFailed;
    }
    return kReadBytes;
}

DWORD WINAPI ReceiveThread(LPVOID argument) {
    int16_t portNumber = static_cast<int16_t>(reinterpret_cast<intptr_t>(argument));
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    PortSlot* slot = &PortTable[portNumber];

    HANDLE readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED readRecord;
    ZeroMemory(&readRecord, sizeof readRecord);
    readRecord.hEvent = readEvent;
    bool readPending = false;
    uint8_t bytes[kReadChunk];

    slot->receiveRunning = 1;
    slot->buffers->ring.readIndex = 0;
    slot->buffers->ring.writeIndex = 0;
    handshakeFlag = 1;

    do {
        DWORD count = 0;
        switch (ReadOnce(slot, &readRecord, bytes, &readPending, &count)) {
        case kReadBytes:
            ReceiveBytes(slot, bytes, count);
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

    // The system writes into readRecord and bytes until the read has ended:
    // the thread does not go before it has.
    if (readPending) {
        DWORD count = 0;
        deviceCalls.cancelIoEx(slot->portHandle, &readRecord);
        deviceCalls.getOverlappedResult(slot->portHandle, &readRecord, &count, TRUE);
    }
    Sleep(10);
    CloseHandle(readEvent);
    handshakeFlag = 0;
    return 0;
}
