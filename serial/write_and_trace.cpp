// Writing a port, and the trace file of its traffic.
#include "write_and_trace.h"

#include <cstring>

#include "device_calls.h"

// How long a cancelled write may take to end.
enum : DWORD { kCancelWaitMs = 1000 };

bool FinishPendingWrite(PortSlot* slot, DWORD limitMs) {
    if (slot->writePending == 0) {
        return true;
    }
    if (WaitForSingleObject(slot->writeEvent, limitMs) != WAIT_OBJECT_0) {
        // The far end does not take the bytes (a device that stopped reading,
        // a cable nobody reads): the write is given up.
        deviceCalls.cancelIoEx(slot->portHandle, &slot->writeRecord);
        if (WaitForSingleObject(slot->writeEvent, kCancelWaitMs) != WAIT_OBJECT_0) {
            return false;
        }
    }
    DWORD written = 0;
    deviceCalls.getOverlappedResult(slot->portHandle, &slot->writeRecord, &written, FALSE);
    slot->writePending = 0;
    return true;
}

void AwaitClosedWrite(PortSlot* slot) {
    if (slot->writePending != 0) {
        WaitForSingleObject(slot->writeEvent, INFINITE);
        slot->writePending = 0;
    }
}

DWORD WriteWireTimeMs(const PortSlot* slot) {
    // Start, data, parity and stop bits: at most 12 bits a character.
    const DWORD baud = slot->lineSettings.BaudRate > 0 ? slot->lineSettings.BaudRate : 1200;
    return static_cast<DWORD>(slot->writeLength) * 12 * 1000 / baud + 1;
}

// Starts an overlapped write from the port's own copy of the bytes, after the
// previous one has finished, so that writes leave in call order and never
// read a caller's buffer that has gone.
static void StartOverlappedWrite(PortSlot* slot, const uint8_t* bytes, int16_t length) {
    FinishPendingWrite(slot, INFINITE);
    memcpy(slot->buffers->writeCopy, bytes, static_cast<size_t>(length));
    ZeroMemory(&slot->writeRecord, sizeof slot->writeRecord);
    slot->writeRecord.hEvent = slot->writeEvent;
    slot->writeLength = length;
    if (!deviceCalls.writeFile(slot->portHandle, slot->buffers->writeCopy,
                               static_cast<DWORD>(length), nullptr, &slot->writeRecord) &&
        GetLastError() == ERROR_IO_PENDING) {
        slot->writePending = 1;
    }
}

int16_t WritePort(int16_t portNumber, const uint8_t* bytes, int16_t length) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr || length <= 0) {
        return 0;
    }
    if (slot->directMode == 0 && platformIsNt == 1) {
        StartOverlappedWrite(slot, bytes, length);
    } else {
        DWORD written = 0;
        deviceCalls.writeFile(slot->portHandle, bytes, static_cast<DWORD>(length), &written,
                              nullptr);
    }
    for (int16_t i = 0; i < length; ++i) {
        TraceByte(slot, bytes[i], kTraceSent);
    }
    return 0;
}

void TraceByte(PortSlot* slot, uint8_t byte, uint8_t tag) {
    // Counted in before the file is looked at: CloseTrace waits for the
    // writers it may have missed before it closes the file.
    ++slot->traceUsers;
    HANDLE file = slot->traceFile;
    if (file != nullptr) {
        uint8_t record[2] = {byte, tag};
        DWORD written = 0;
        WriteFile(file, record, sizeof record, &written, nullptr);
    }
    --slot->traceUsers;
}

int16_t OpenTrace(int16_t portNumber, const char* fileName) {
    if (OpenSlot(portNumber) == nullptr) {
        return 1;
    }
    CloseTrace(portNumber);
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    PortTable[portNumber].traceFile = file;
    return 0;
}

void CloseTrace(int16_t portNumber) {
    if (!IsPortNumber(portNumber)) {
        return;
    }
    PortSlot* slot = &PortTable[portNumber];
    HANDLE file = slot->traceFile.exchange(nullptr);
    if (file == nullptr) {
        return;
    }
    // A record write that took the handle before it was taken away ends first.
    while (slot->traceUsers != 0) {
        Sleep(0);
    }
    SetEndOfFile(file);
    CloseHandle(file);
}
