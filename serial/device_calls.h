// The platform calls through which the serial layer reaches a serial device.
//
// They default to the Win32 functions of the same names. The table is
// process-wide so that a test can stand in for a driver: line errors, a
// device that goes away, modem lines, a port held elsewhere, a write the far
// end never takes; none of these can be produced on a virtual cable.
#pragma once

#include <windows.h>

struct DeviceCalls {
    HANDLE(WINAPI* createFile)
    (LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD disposition,
     DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* getCommState)(HANDLE device, LPDCB settings);
    BOOL(WINAPI* setCommState)(HANDLE device, LPDCB settings);
    BOOL(WINAPI* setupComm)(HANDLE device, DWORD inQueue, DWORD outQueue);
    BOOL(WINAPI* setCommTimeouts)(HANDLE device, LPCOMMTIMEOUTS timeouts);
    BOOL(WINAPI* escapeCommFunction)(HANDLE device, DWORD function);
    BOOL(WINAPI* getCommModemStatus)(HANDLE device, LPDWORD status);
    BOOL(WINAPI* clearCommError)(HANDLE device, LPDWORD errors, LPCOMSTAT status);
    BOOL(WINAPI* readFile)
    (HANDLE device, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED overlapped);
    BOOL(WINAPI* writeFile)
    (HANDLE device, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
    BOOL(WINAPI* getOverlappedResult)
    (HANDLE device, LPOVERLAPPED overlapped, LPDWORD count, BOOL wait);
    BOOL(WINAPI* cancelIoEx)(HANDLE device, LPOVERLAPPED overlapped);
    BOOL(WINAPI* closeHandle)(HANDLE device);
};

extern DeviceCalls deviceCalls;

// The Win32 functions themselves, for a stand-in to pass calls on to.
extern const DeviceCalls kPlatformDeviceCalls;
