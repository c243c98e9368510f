#include "support/window_search.h"

#include <string.h>

namespace {

struct DialogSearch {
    const DialogQuery* query;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
    DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
    const DialogQuery& query = *search->query;
    DWORD process = 0;
    DWORD thread = GetWindowThreadProcessId(window, &process);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") != 0 || !IsWindowVisible(window) ||
        (query.process != 0 && process != query.process) ||
        (query.thread != 0 && thread != query.thread) ||
        (query.owner != nullptr && GetWindow(window, GW_OWNER) != query.owner) ||
        (query.caption != nullptr && WindowTextA(window) != query.caption)) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

struct DescendantSearch {
    const char* className;
    int id;
    HWND found;
};

BOOL CALLBACK MatchDescendant(HWND window, LPARAM param) {
    DescendantSearch* search = reinterpret_cast<DescendantSearch*>(param);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpiA(className, search->className) == 0 && GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND WaitForDialog(const DialogQuery& query, int timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        DialogSearch search = {&query, nullptr};
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        if (static_cast<int>(GetTickCount() - start) > timeoutMs) {
            return nullptr;
        }
        Sleep(20);
    }
}

bool WaitForWindowGone(HWND window, int timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (static_cast<int>(GetTickCount() - start) > timeoutMs) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

HWND FindDescendant(HWND parent, const char* className, int id) {
    DescendantSearch search = {className, id, nullptr};
    EnumChildWindows(parent, MatchDescendant, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WindowTextA(HWND window) {
    char text[1000] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::wstring WindowTextW(HWND window) {
    wchar_t text[1000] = L"";
    GetWindowTextW(window, text, 1000);
    return text;
}
