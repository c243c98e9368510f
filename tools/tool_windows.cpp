#include "tool_windows.h"

#include <cstring>

#include "dialog_ids.h"

const char kToolCaption[] = "  KORVAN_Setup.exe  V1.01   -   Programme Korvan modules ";

namespace {

enum : uint32_t { kSendTimeoutMs = 10000 };

struct BoxSearch {
    const char* caption; // the title to match
    HWND owner;          // nullptr: any owner
    HWND found;
};

BOOL CALLBACK MatchBox(HWND window, LPARAM param) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") != 0 || !IsWindowVisible(window) ||
        (search->owner != nullptr && GetWindow(window, GW_OWNER) != search->owner)) {
        return TRUE;
    }
    char caption[100] = "";
    ReadWindowText(window, caption, sizeof caption);
    if (strcmp(caption, search->caption) != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND FindBox(const char* caption, HWND owner) {
    BoxSearch search = {caption, owner, nullptr};
    EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK FindDisabledInput(HWND window, LPARAM param) {
    int id = GetDlgCtrlID(window);
    if (id >= IDC_INPUT_FIRST && id <= IDC_INPUT_LAST && !IsWindowEnabled(window)) {
        *reinterpret_cast<bool*>(param) = true;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindToolDialog() {
    return FindBox(kToolCaption, nullptr);
}

HWND FindUntitledBox(HWND owner) {
    return FindBox("", owner);
}

bool InputControlsEnabled(HWND dialog) {
    bool disabled = false;
    EnumChildWindows(dialog, FindDisabledInput, reinterpret_cast<LPARAM>(&disabled));
    return !disabled;
}

void ReadWindowText(HWND window, char* text, int32_t capacity) {
    text[0] = 0;
    if (window != nullptr) {
        GetWindowTextA(window, text, capacity);
    }
}

void ReadControlText(HWND dialog, int id, char* text, int32_t capacity) {
    ReadWindowText(GetDlgItem(dialog, id), text, capacity);
}

bool SendToControl(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam,
                   LRESULT* result) {
    HWND control = GetDlgItem(dialog, id);
    DWORD_PTR answer = 0;
    if (control == nullptr || SendMessageTimeoutA(control, message, wParam, lParam,
                                                  SMTO_ABORTIFHUNG, kSendTimeoutMs, &answer) == 0) {
        return false;
    }
    if (result != nullptr) {
        *result = static_cast<LRESULT>(answer);
    }
    return true;
}

LRESULT FindListEntryWithData(HWND dialog, int id, LRESULT data) {
    LRESULT count = 0;
    SendToControl(dialog, id, CB_GETCOUNT, 0, 0, &count);
    for (LRESULT entry = 0; entry < count; ++entry) {
        LRESULT entryData = 0;
        if (SendToControl(dialog, id, CB_GETITEMDATA, static_cast<WPARAM>(entry), 0, &entryData) &&
            entryData == data) {
            return entry;
        }
    }
    return -1;
}

bool PostToControl(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr && PostMessageA(control, message, wParam, lParam) != 0;
}

int16_t SetNamedEvent(const char* name, int32_t timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
        if (event != nullptr) {
            SetEvent(event);
            CloseHandle(event);
            return 0;
        }
        if (static_cast<int32_t>(GetTickCount() - start) > timeoutMs) {
            return 1;
        }
        Sleep(50);
    }
}
