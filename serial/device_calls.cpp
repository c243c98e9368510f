#include "device_calls.h"

const DeviceCalls kPlatformDeviceCalls = {
    CreateFileA,         GetCommState,       SetCommState,   SetupComm, SetCommTimeouts,
    EscapeCommFunction,  GetCommModemStatus, ClearCommError, ReadFile,  WriteFile,
    GetOverlappedResult, CancelIoEx,         CloseHandle,
};

DeviceCalls deviceCalls = kPlatformDeviceCalls;
