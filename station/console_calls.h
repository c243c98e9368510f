// The station's calls on its console: the display's writes and the read of
// the technician's Enter, as the system's WriteFile and ReadFile.
// Process-wide so that a test can put a console in their place that the
// platform cannot be made to play: one that holds every write back (a
// selection in it, a pipe that nobody reads), or one where Ctrl+C ends the
// read with no byte.
#pragma once

#include <windows.h>

struct ConsoleCalls {
    BOOL(WINAPI* write)
    (HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
    BOOL(WINAPI* read)
    (HANDLE file, LPVOID bytes, DWORD count, LPDWORD got, LPOVERLAPPED overlapped);
};

extern ConsoleCalls consoleCalls;
extern const ConsoleCalls kPlatformConsoleCalls;
