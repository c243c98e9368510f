// The waits of the serial layer and of a run, and the hook through which a
// thread that runs a job itself goes on answering its windows meanwhile.
//
// The dialog's thread runs the whole programming run without returning to
// its message loop; the system takes a window whose thread looks at no
// message for seconds for hung. That thread gives itself a hook: every wait
// below, made in that thread, then calls it as soon as a message is sent to
// the thread or its windows need painting, and at least every
// kWaitHookEveryMs. In every other thread (the console program's, a
// station's port threads) the waits are the platform's own and the hook is
// never called.
#pragma once

#include <windows.h>

// Longest time between two calls of the hook while its thread waits.
enum : DWORD { kWaitHookEveryMs = 50 };

// Answers what waits for the thread (the messages sent to it); takes
// nothing else and returns at once.
typedef void (*WaitHook)();

// Gives the calling thread the hook; nullptr takes it away. One thread at a
// time has one: the last to set it.
void SetWaitHook(WaitHook hook);

// Waits up to waitMs until one of the count objects is signalled, as
// WaitForMultipleObjects (any one) does; count 0 is a pause of waitMs
// (WAIT_TIMEOUT).
DWORD AwaitObjects(DWORD count, const HANDLE* objects, DWORD waitMs);

// The same for one object.
DWORD AwaitObject(HANDLE object, DWORD waitMs);

// A pause of waitMs.
void PauseMs(DWORD waitMs);
