// Starting and stopping a port's threads: the start and stop hand-shakes
// over the slot's handshakeFlag, every wait of them bounded.
#include "port_threads.h"

#include "port_table.h"
#include "wait_hook.h"

static HANDLE CreatePlatformThread(LPTHREAD_START_ROUTINE routine, int16_t portNumber) {
    LPVOID argument = reinterpret_cast<LPVOID>(static_cast<intptr_t>(portNumber));
    return CreateThread(nullptr, 0, routine, argument, 0, nullptr);
}

PortThreadCreator createPortThread = CreatePlatformThread;

int16_t StartPortThread(LPTHREAD_START_ROUTINE routine, int16_t portNumber, HANDLE* thread) {
    std::atomic<int16_t>& handshakeFlag = PortTable[portNumber].handshakeFlag;
    handshakeFlag = 0;
    HANDLE created = createPortThread(routine, portNumber);
    if (created == nullptr) {
        return 1;
    }
    *thread = created;
    // Waiting on the thread handle doubles as the 1 ms sleep and notices a
    // thread that ended without its hand-shake.
    while (handshakeFlag == 0) {
        if (AwaitObject(created, 1) == WAIT_OBJECT_0 && handshakeFlag == 0) {
            return 1;
        }
    }
    return 0;
}

void RequestThreadStop(PortSlot* slot, std::atomic<int16_t>* runFlag) {
    slot->handshakeFlag = 1;
    *runFlag = 0;
}

bool AwaitThreadStop(PortSlot* slot, HANDLE thread, DWORD limitMs) {
    const ULONGLONG start = GetTickCount64();
    while (slot->handshakeFlag == 1) {
        if (AwaitObject(thread, 1) == WAIT_OBJECT_0) {
            return true;
        }
        if (GetTickCount64() - start >= limitMs) {
            return false;
        }
    }
    return true;
}

static BOOL CALLBACK CloseWindowOfThread(HWND window, LPARAM) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

void CloseThreadWindows(HANDLE thread) {
    EnumThreadWindows(GetThreadId(thread), CloseWindowOfThread, 0);
}
