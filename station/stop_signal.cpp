#include "stop_signal.h"

#include <atomic>

#include "run_face.h"
#include "run_texts.h"
#include "serial_port.h"
#include "utf8_file_names.h"

namespace {

static_assert(static_cast<int>(kStopPortRoom) >= static_cast<int>(kWatchPortLimit),
              "a stop interrupts every port a run watches");

std::atomic<bool> stopRequested{false};
std::atomic<int16_t> stopPorts[kStopPortRoom];
std::atomic<int> stopPortCount{0};
// Set once the station has written what a stop owes.
HANDLE handledEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

// Waits for the station's last lines, before Windows ends the process.
void StopAndAwaitLastLines() {
    RequestStop();
    WaitForSingleObject(handledEvent, kCloseGraceMs);
}

// Watches the stop event for the rest of the process, a look every 200 ms.
DWORD WINAPI WatchEventForStop(LPVOID event) {
    while (!stopRequested) {
        if (WaitForSingleObject(static_cast<HANDLE>(event), 200) == WAIT_OBJECT_0) {
            RequestStop();
        }
    }
    return 0;
}

const char kSessionWindowClass[] = "korvan-cli session";
HANDLE sessionThread = nullptr;
DWORD sessionThreadId = 0;
std::atomic<bool> sessionWatched{false};

// The hidden window's thread: its messages until the watch ends, a look at
// its queue at least twice a second.
DWORD WINAPI RunSessionWindow(LPVOID) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SessionWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kSessionWindowClass;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, kSessionWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        return 0;
    }
    while (sessionWatched) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 500, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    DestroyWindow(window);
    return 0;
}

} // namespace

void SetStopPorts(const int16_t* ports, int count) {
    const int kept = count < kStopPortRoom ? count : kStopPortRoom;
    for (int k = 0; k < kept; ++k) {
        stopPorts[k] = ports[k];
    }
    stopPortCount = kept;
}

bool StopRequested() {
    return stopRequested;
}

void RequestStop() {
    const int count = stopPortCount;
    for (int k = 0; k < count; ++k) {
        InterruptPort(stopPorts[k]);
    }
    stopRequested = true;
}

void StopHandled() {
    SetEvent(handledEvent);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        RequestStop();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends once this returns.
        StopAndAwaitLastLines();
        return TRUE;
    }
    return FALSE;
}

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM first, LPARAM second) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE; // the session may end: the runs are cut short, their lines written
    case WM_ENDSESSION:
        if (first) {
            StopAndAwaitLastLines();
        }
        return 0;
    }
    return DefWindowProcA(window, message, first, second);
}

void CatchConsoleStops() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WatchSessionEnd() {
    sessionWatched = true;
    sessionThread = CreateThread(nullptr, 0, RunSessionWindow, nullptr, 0, &sessionThreadId);
}

void EndSessionWatch() {
    sessionWatched = false;
    if (sessionThread != nullptr) {
        PostThreadMessageA(sessionThreadId, WM_NULL, 0, 0); // wakes its look at the queue
        WaitForSingleObject(sessionThread, 1000);
        CloseHandle(sessionThread);
        sessionThread = nullptr;
    }
}

std::string WatchStopEvent(const std::string& eventName) {
    // The name as the command line gave it, beyond the code page too.
    WCHAR wideName[kWideNameRoom];
    if (WidenUtf8Name(eventName.c_str(), wideName, kWideNameRoom) == 0) {
        return SystemMessage(GetLastError());
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, wideName);
    if (event == nullptr) {
        return SystemMessage(GetLastError());
    }
    ResetEvent(event);
    HANDLE watcher = CreateThread(nullptr, 0, WatchEventForStop, event, 0, nullptr);
    if (watcher == nullptr) {
        const DWORD error = GetLastError();
        CloseHandle(event);
        return SystemMessage(error);
    }
    CloseHandle(watcher);
    return "";
}
