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

static void ReceiveByte(PortSlot* slot, uint8_t byte) {
    bool marked = ParityFailed(slot);
    if (RingFreeCells(&slot->ring) < RingCellsNeeded(marked)) {
        // Holds up reception until the user answers; the device queue keeps
        // what arrives meanwhile.
        MessageBoxA(nullptr, "BUFFER-OVERFLOW", "RS232-ERROR", MB_OKCANCEL | MB_ICONEXCLAMATION);
    }
    RingStore(&slot->ring, byte, marked);
    // The event stays set until a reader resets it before looking at the
    // ring, so a byte stored while a reader gets ready to wait is never slept
    // through.
    SetEvent(slot->dataArrivedEvent);
    TraceByte(slot, byte, kTraceReceived);
    if (slot->byteCallback != nullptr) {
        slot->byteCallback(slot->callbackTag, &slot->ring.readIndex, &slot->ring.writeIndex,
                           slot->ring.data);
    }
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
    uint8_t byte = 0;

    slot->receiveRunning = 1;
    slot->ring.readIndex = 0;
    slot->ring.writeIndex = 0;
    handshakeFlag = 1;

    do {
        DWORD count = 0;
        if (!readPending) {
            if (!ReadFile(slot->portHandle, &byte, 1, &count, &readRecord)) {
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
        if (count == 1) {
            ReceiveByte(slot, byte);
        }
    } while (slot->receiveRunning == 1);

    Sleep(10);
    CloseHandle(readEvent);
    handshakeFlag = 0;
    return 0;
}
