// The line-status monitor thread of an open port: the 50 ms tick clock of
// direct-mode reads, and the watch on the carrier-detect line.
#pragma once

#include <windows.h>

// Thread procedure; the argument is the port number.
DWORD WINAPI MonitorThread(LPVOID argument);
