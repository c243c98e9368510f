#include "receive_thread.h"

#include "port_table.h"
#include "receive_ring.h"
#include "trace_file.h"

static bool ParityFailed(PortSlot* slot) {
    if (slot->parityCheck != 1) {
        return false;
    }
    DWORD errors = 0;
    ClearCommError(slot->portHandle, &errors, nullptr);
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
    ClearCommError(slot->portHandle, &errors, &status);
    if (status.cbInQue <= 1) {
        return 1;
    }
    return status.cbInQue < kReadChunk ? status.cbInQue : kReadChunk;
}

static void ReceiveByte(PortSlot* slot, uint8_t byte, bool marked) {
    if (RingFreeCells(&slot->ring) < RingCellsNeeded(marked)) {
        // Holds up reception until the user answers; the device queue keeps
        // what arrives meanwhile.
        MessageBoxA(nullptr, "BUFFER-OVERFLOW", "RS232-ERROR", MB_OKCANCEL | MB_ICONEXCLAMATION);
    }
    RingStore(&slot->ring, byte, marked);
    TraceByte(slot, byte, kTraceReceived);
    if (slot->byteCallback != nullptr) {
        slot->byteCallback(slot->callbackTag, &slot->ring.readIndex, &slot->ring.writeIndex,
                           slot->ring.data);
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
    slot->ring.readIndex = 0;
    slot->ring.writeIndex = 0;
    handshakeFlag = 1;

    do {
        DWORD count = 0;
        if (!readPending) {
            if (!ReadFile(slot->portHandle, bytes, NextReadCount(slot), &count, &readRecord)) {
                count = 0;
                readPending = GetLastError() == ERROR_IO_PENDING;
            }
        }
        if (readPending) {
            if (WaitForSingleObject(readEvent, 500) == WAIT_OBJECT_0) {
                if (!GetOverlappedResult(slot->portHandle, &readRecord, &count, FALSE)) {
                    count = 0;
                }
                readPending = false;
            }
        }
        if (count > 0) {
            ReceiveBytes(slot, bytes, count);
        }
    } while (slot->receiveRunning == 1);

    Sleep(10);
    CloseHandle(readEvent);
    handshakeFlag = 0;
    return 0;
}
