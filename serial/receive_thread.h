// The receive thread of a port in receive-thread mode: reads the device one
// byte at a time into the port's receive ring.
#pragma once

#include <windows.h>

// Thread procedure; the argument is the port number.
DWORD WINAPI ReceiveThread(LPVOID argument);
