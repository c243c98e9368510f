#include "wait_hook.h"

#include <atomic>

namespace {

// The thread with the hook, and the hook. The time of its last call is that
// thread's own.
std::atomic<DWORD> hookThread{0};
std::atomic<WaitHook> hookCall{nullptr};
ULONGLONG hookCalledMs = 0;

WaitHook HookOfThisThread() {
    return hookThread == GetCurrentThreadId() ? hookCall.load() : nullptr;
}

void CallHook(WaitHook hook) {
    hookCalledMs = GetTickCount64();
    hook();
}

} // namespace

void SetWaitHook(WaitHook hook) {
    hookCall = nullptr;
    hookThread = GetCurrentThreadId();
    hookCalledMs = GetTickCount64();
    hookCall = hook;
}

DWORD AwaitObjects(DWORD count, const HANDLE* objects, DWORD waitMs) {
    const WaitHook hook = HookOfThisThread();
    if (hook == nullptr) {
        if (count == 0) {
            Sleep(waitMs);
            return WAIT_TIMEOUT;
        }
        return WaitForMultipleObjects(count, objects, FALSE, waitMs);
    }
    // The thread's messages take one place of a wait's objects: a wait on
    // as many objects as a wait can hold only calls the hook in time.
    const bool wakeForMessages = count < MAXIMUM_WAIT_OBJECTS;
    const ULONGLONG startMs = GetTickCount64();
    for (;;) {
        const ULONGLONG nowMs = GetTickCount64();
        if (nowMs - hookCalledMs >= kWaitHookEveryMs) {
            CallHook(hook);
        }
        const ULONGLONG elapsedMs = nowMs - startMs;
        const DWORD leftMs = elapsedMs >= waitMs ? 0 : static_cast<DWORD>(waitMs - elapsedMs);
        const DWORD sliceMs = leftMs < kWaitHookEveryMs ? leftMs : DWORD{kWaitHookEveryMs};
        const DWORD woken =
            wakeForMessages
                ? MsgWaitForMultipleObjectsEx(count, objects, sliceMs, QS_SENDMESSAGE | QS_PAINT, 0)
                : WaitForMultipleObjects(count, objects, FALSE, sliceMs);
        if (wakeForMessages && woken == WAIT_OBJECT_0 + count) {
            CallHook(hook);
            if (leftMs == 0) {
                return WAIT_TIMEOUT;
            }
            continue;
        }
        if (woken != WAIT_TIMEOUT || sliceMs == leftMs) {
            return woken;
        }
    }
}

DWORD AwaitObject(HANDLE object, DWORD waitMs) {
    return AwaitObjects(1, &object, waitMs);
}

void PauseMs(DWORD waitMs) {
    AwaitObjects(0, nullptr, waitMs);
}
