#include "trace_file.h"

void TraceByte(PortSlot* slot, uint8_t byte, uint8_t tag) {
    HANDLE file = slot->traceFile;
    if (file == nullptr) {
        return;
    }
    uint8_t record[2] = {byte, tag};
    DWORD written = 0;
    WriteFile(file, record, sizeof record, &written, nullptr);
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
    HANDLE file = PortTable[portNumber].traceFile.exchange(nullptr);
    if (file == nullptr) {
        return;
    }
    SetEndOfFile(file);
    CloseHandle(file);
}
