// Test support: a disk that is full while diskFull is set, for the log's
// writes (logWrite = FullDiskWrite).
#pragma once

#include <windows.h>

#include <atomic>

extern std::atomic<bool> diskFull;

BOOL WINAPI FullDiskWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                          LPOVERLAPPED overlapped);
