#include "write_port.h"

#include <cstring>

#include "trace_file.h"

void FinishPendingWrite(PortSlot* slot) {
    if (slot->writePending == 0) {
        return;
    }
    DWORD written = 0;
    GetOverlappedResult(slot->portHandle, &slot->writeRecord, &written, TRUE);
    slot->writePending = 0;
}

// Starts an overlapped write from the port's own copy of the bytes, after the
// previous one has finished, so that writes leave in call order and never
// read a caller's buffer that has gone.
static void StartOverlappedWrite(PortSlot* slot, const uint8_t* bytes, int16_t length) {
    FinishPendingWrite(slot);
    memcpy(slot->writeCopy, bytes, static_cast<size_t>(length));
    ZeroMemory(&slot->writeRecord, sizeof slot->writeRecord);
    slot->writeRecord.hEvent = slot->writeEvent;
    if (!WriteFile(slot->portHandle, slot->writeCopy, static_cast<DWORD>(length), nullptr,
                   &slot->writeRecord) &&
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
        WriteFile(slot->portHandle, bytes, static_cast<DWORD>(length), &written, nullptr);
    }
    for (int16_t i = 0; i < length; ++i) {
        TraceByte(slot, bytes[i], kTraceSent);
    }
    return 0;
}
