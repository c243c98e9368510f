// Start and stop hand-shakes of a port's threads over the slot's
// handshakeFlag.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "port_table.h"

// Creates a port thread with the port number as its argument.
// Process-wide so that a test can make thread creation fail.
typedef HANDLE (*PortThreadCreator)(LPTHREAD_START_ROUTINE routine, int16_t portNumber);
extern PortThreadCreator createPortThread;

// Starts a port thread and waits until it has set its slot's handshakeFlag. 0 when the
// thread runs with its slot fields set; 1 when it could not be created or
// ended before the hand-shake.
int16_t StartPortThread(LPTHREAD_START_ROUTINE routine, int16_t portNumber, HANDLE* thread);

// First half of the stop hand-shake: raise the slot's handshakeFlag and
// clear the thread's run flag.
void RequestThreadStop(PortSlot* slot, std::atomic<int16_t>* runFlag);

// Second half: wait, in 1 ms steps, until the thread has cleared
// handshakeFlag (or has ended without doing so), for at most limitMs. True
// when the thread has stopped.
bool AwaitThreadStop(PortSlot* slot, HANDLE thread, DWORD limitMs);

// Closes the thread's windows (a message box it stands in), so that it can
// go on to its end.
void CloseThreadWindows(HANDLE thread);
