#include "port_table.h"

#include "device_calls.h"

PortSlot PortTable[kPortSlots];

DWORD portOpenErrors[kPortSlots];

DWORD PortOpenError(int16_t portNumber) {
    return IsPortNumber(portNumber) ? portOpenErrors[portNumber] : 0;
}

PortSlot* OpenSlot(int16_t portNumber) {
    if (!IsPortNumber(portNumber) || PortTable[portNumber].portHandle == nullptr) {
        return nullptr;
    }
    return &PortTable[portNumber];
}

void InterruptPort(int16_t portNumber) {
    if (IsPortNumber(portNumber)) {
        PortTable[portNumber].interrupted = 1;
    }
}

bool PortInterrupted(int16_t portNumber) {
    return IsPortNumber(portNumber) && PortTable[portNumber].interrupted != 0;
}

ReceiveBuffers receiveBufferPool[kReceiveBufferSets];

ReceiveBuffers* TakeReceiveBuffers() {
    for (ReceiveBuffers& set : receiveBufferPool) {
        int16_t free = 0;
        if (set.taken.compare_exchange_strong(free, 1)) {
            return &set;
        }
    }
    return nullptr;
}

void ReturnReceiveBuffers(PortSlot* slot) {
    if (slot->buffers != nullptr) {
        if (slot->buffers->lost == 0) {
            slot->buffers->taken = 0;
        }
        slot->buffers = nullptr;
    }
}

int64_t NowMicroseconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency.QuadPart * 1000000 +
           now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

const DeviceCalls kPlatformDeviceCalls = {
    CreateFileA,         GetCommState,       SetCommState,   SetupComm, SetCommTimeouts,
    EscapeCommFunction,  GetCommModemStatus, ClearCommError, ReadFile,  WriteFile,
    GetOverlappedResult, CancelIoEx,         CloseHandle,
};

DeviceCalls deviceCalls = kPlatformDeviceCalls;
