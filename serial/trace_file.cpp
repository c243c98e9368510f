#include "trace_file.h"

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
