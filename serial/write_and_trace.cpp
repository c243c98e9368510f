// Writing a port, and the trace file of its traffic.
#include "write_and_trace.h"

#include <cstring>

#include "device_calls.h"
#include "device_io.h"
#include "wait_hook.h"
#include "utf8_file_names.h"

bool FinishPendingWrite(PortSlot* slot, DWORD limitMs) {
    if (slot->writePending == 0) {
        return true;
    }
    // A write that the far end does not take (a device that stopped reading,
    // a cable nobody reads) is given up.
    DWORD written = 0;
    if (AwaitDeviceOperation(slot, &slot->writeRecord, limitMs, &written) == kDeviceKeepsIt) {
        return false;
    }
    slot->writePending = 0;
    return true;
}

void AwaitClosedWrite(PortSlot* slot) {
    if (slot->writePending == 0) {
        return;
    }
    if (AwaitObject(slot->writeEvent, kCancelWaitMs) == WAIT_OBJECT_0) {
        slot->writePending = 0;
        return;
    }
    // The device keeps the write even now: its bytes stay its own.
    slot->writeStuck = 1;
    if (slot->buffers != nullptr) {
        slot->buffers->lost = 1;
    }
}

DWORD LastWriteWaitMs(const PortSlot* slot) {
    return WireTimeMs(slot, slot->writeLength) + kWriteMarginMs;
}

// Starts an overlapped write from the port's own copy of the bytes, after the
// previous one has finished, so that writes leave in call order and never
// read a caller's buffer that has gone. 1 when the previous write is still
// held by the device, or the new one is refused.
static int16_t StartOverlappedWrite(PortSlot* slot, const uint8_t* bytes, int16_t length) {
    if (!FinishPendingWrite(slot, LastWriteWaitMs(slot))) {
        return 1;
    }
    memcpy(slot->buffers->writeCopy, bytes, static_cast<size_t>(length));
    ZeroMemory(&slot->writeRecord, sizeof slot->writeRecord);
    slot->writeRecord.hEvent = slot->writeEvent;
    slot->writeLength = length;
    const int64_t startUs = NowMicroseconds();
    if (!deviceCalls.writeFile(slot->portHandle, slot->buffers->writeCopy,
                               static_cast<DWORD>(length), nullptr, &slot->writeRecord) &&
        GetLastError() != ERROR_IO_PENDING) {
        return 1;
    }
    slot->writePending = 1;
    NoteBytesSent(slot, length, startUs);
    return 0;
}

int16_t WritePort(int16_t portNumber, const uint8_t* bytes, int16_t length) {
    PortSlot* slot = OpenSlot(portNumber);
    if (slot == nullptr || slot->interrupted != 0) {
        return 1;
    }
    if (length <= 0) {
        return 0;
    }
    const int16_t status = slot->directMode ? WriteDevice(slot, bytes, length)
                                            : StartOverlappedWrite(slot, bytes, length);
    for (int16_t i = 0; i < length; ++i) {
        TraceByte(slot, bytes[i], kTraceSent);
    }
    return status;
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
    HANDLE file = OpenUtf8NamedFile(fileName, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL);
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
