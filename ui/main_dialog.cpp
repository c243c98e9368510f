// The main dialog's procedure: start-up, the job switch, the lists, the
// commands and the colours of its controls.
#include "main_dialog.h"

#include <dbt.h>

#include <cstdio>
#include <cstring>

#include "colour_scheme.h"
#include "dialog_ids.h"
#include "port_list.h"
#include "run_face.h"
#include "taskbar_progress.h"
#include "text_adapters.h"

WCHAR fileNameBuffer[kFileNameRoom];
char pickerFileBuffer[kPickerFileRoom];
OPENFILENAMEA openFileBlock;

// ---- The lists ----

// The one ID that the module can also be given over the Profibus itself.
enum : int16_t { kBusSettableId = 126 };

void ComposePortEntry(int16_t port, char* text) {
    snprintf(text, kListEntryRoom, "COM%d", port);
}

void ComposeProfibusIdEntry(int16_t id, char* text) {
    if (id == kBusSettableId) {
        strcpy(text, "126 (Address Setting via Profibus possible)");
        return;
    }
    snprintf(text, kListEntryRoom, "%d", id);
}

static void AddPortEntry(HWND list, int16_t port, WCHAR* textArea) {
    char entry[kListEntryRoom];
    ComposePortEntry(port, entry);
    WidenText(textArea, entry);
    LRESULT index = AddListText(list, textArea);
    if (index >= 0) {
        SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(index), port);
    }
}

const char kAnyPortEntry[] = "Any port (find the module)";

int16_t ChosenPortEntry(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    LRESULT entry = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (entry == CB_ERR) {
        return 0;
    }
    return static_cast<int16_t>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(entry), 0));
}

// The entry that carries port (kAnyPort included); -1 when there is none.
static LRESULT EntryOfPort(HWND list, int16_t port) {
    const LRESULT entries = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT k = 0; k < entries && port != 0; ++k) {
        if (static_cast<int16_t>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(k), 0)) ==
            port) {
            return k;
        }
    }
    return -1;
}

void ChoosePortEntry(HWND dialog, int16_t port) {
    HWND list = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(EntryOfPort(list, port)), 0);
}

int16_t ListedPorts(HWND dialog, int16_t* ports, int16_t capacity) {
    HWND list = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    const LRESULT entries = SendMessageA(list, CB_GETCOUNT, 0, 0);
    int16_t count = 0;
    for (LRESULT k = 0; k < entries && count < capacity; ++k) {
        const int16_t port =
            static_cast<int16_t>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(k), 0));
        if (port > 0) {
            ports[count++] = port;
        }
    }
    return count;
}

// COM1 to COM8 always, then every further port the PC has, ascending; each
// entry carries its port number. Last comes the entry that finds the
// module. The entry chosen before stays chosen while it is in the list.
static void FillPortList(HWND dialog, WCHAR* textArea) {
    HWND list = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    const int16_t chosen = ChosenPortEntry(dialog);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    static int16_t ports[kPortSlots];
    const int16_t count = ListPortChoices(ports, kPortSlots);
    for (int16_t i = 0; i < count; ++i) {
        AddPortEntry(list, ports[i], textArea);
    }
    WidenText(textArea, kAnyPortEntry);
    const LRESULT anyEntry = AddListText(list, textArea);
    if (anyEntry >= 0) {
        SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(anyEntry),
                     static_cast<LPARAM>(kAnyPort));
    }
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(EntryOfPort(list, chosen)), 0);
}

static void FillProfibusIdList(HWND dialog, WCHAR* textArea) {
    HWND list = GetDlgItem(dialog, IDC_PROFIBUS_ID_LIST);
    char entry[kListEntryRoom];
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (int16_t id = 1; id <= kProfibusIdEntries; ++id) {
        ComposeProfibusIdEntry(id, entry);
        WidenText(textArea, entry);
        AddListText(list, textArea);
    }
    SendMessageA(list, CB_SETCURSEL, 0, 0);
}

// ShowWindow(showCommand) on every control first..last (both included); an
// identifier without a control is passed over.
static void ShowControlRange(HWND dialog, int first, int last, int showCommand) {
    for (int id = first; id <= last; ++id) {
        HWND control = GetDlgItem(dialog, id);
        if (control != nullptr) {
            ShowWindow(control, showCommand);
        }
    }
}

// ---- Start-up and the job switch ----

// WM_INITDIALOG: fills the lists, checks the firmware job, presets the file
// name and clears the status and result lines.
static INT_PTR StartUpDialog(HWND dialog) {
    WCHAR textArea[kDialogTextSize];
    WatchTaskbarButton(dialog);

    // No port is chosen at the start.
    SendMessageA(GetDlgItem(dialog, IDC_COM_PORT_LIST), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    FillPortList(dialog, textArea);

    SendMessageA(GetDlgItem(dialog, IDC_LOAD_FIRMWARE), BM_SETCHECK, BST_CHECKED, 0);
    ShowControlRange(dialog, IDC_FIRMWARE_GROUP_FIRST, IDC_FIRMWARE_GROUP_LAST, SW_SHOW);
    SendMessageA(GetDlgItem(dialog, IDC_SET_PROFIBUS_ID), BM_SETCHECK, BST_UNCHECKED, 0);
    ShowControlRange(dialog, IDC_PROFIBUS_GROUP_FIRST, IDC_PROFIBUS_GROUP_LAST, SW_HIDE);

    WidenText(fileNameBuffer, "Korvan.dcs");
    SetControlText(GetDlgItem(dialog, IDC_FILE_NAME), fileNameBuffer);

    FillProfibusIdList(dialog, textArea);

    // A single blank stands for an empty line.
    WidenText(textArea, " ");
    SetControlText(GetDlgItem(dialog, IDC_STATE_LINE), textArea);
    SetControlText(GetDlgItem(dialog, IDC_RESULT_LINE), textArea);
    return 1;
}

// Radio button 10 or 11: shows the group of the checked job, hides the other.
static void SwitchJob(HWND dialog) {
    LRESULT check = SendMessageA(GetDlgItem(dialog, IDC_LOAD_FIRMWARE), BM_GETCHECK, 0, 0);
    if (check == BST_CHECKED) {
        ShowControlRange(dialog, IDC_FIRMWARE_GROUP_FIRST, IDC_FIRMWARE_GROUP_LAST, SW_SHOW);
        ShowControlRange(dialog, IDC_PROFIBUS_GROUP_FIRST, IDC_PROFIBUS_GROUP_LAST, SW_HIDE);
    } else {
        ShowControlRange(dialog, IDC_FIRMWARE_GROUP_FIRST, IDC_FIRMWARE_GROUP_LAST, SW_HIDE);
        ShowControlRange(dialog, IDC_PROFIBUS_GROUP_FIRST, IDC_PROFIBUS_GROUP_LAST, SW_SHOW);
    }
}

// ---- Colours ----

static bool IsRedLine(HWND dialog, HWND control) {
    for (int i = 0; i < kRedLineCount; ++i) {
        HWND line = GetDlgItem(dialog, kRedLineIds[i]);
        if (line != nullptr && line == control) {
            return true;
        }
    }
    return false;
}

// WM_CTLCOLOREDIT to WM_CTLCOLORSTATIC: sets the text and background colour
// of the control's device context and returns the background brush.
static HBRUSH ColourControl(HWND dialog, UINT message, HDC deviceContext, HWND control) {
    COLORREF text = 0;
    HBRUSH textBrush = nullptr;
    GetColourSlot(kTextColourSlot, &text, &textBrush);
    if (IsRedLine(dialog, control)) {
        text = kLineTextColour;
    }
    SetTextColor(deviceContext, text);

    COLORREF background = 0;
    HBRUSH brush = nullptr;
    GetColourSlot(BackgroundSlotOf(message), &background, &brush);
    SetBkColor(deviceContext, background);
    return brush;
}

// ---- The procedure ----

static INT_PTR HandleCommand(HWND dialog, WORD id) {
    switch (id) {
    case IDC_LOAD_FIRMWARE:
    case IDC_SET_PROFIBUS_ID:
        SwitchJob(dialog);
        return 0;
    case IDC_FILE_SETUP:
        PickScriptFile(dialog);
        return 0;
    case IDC_START:
        RunDialogJob(dialog);
        return 1;
    case IDC_QUIT:
        EndDialog(dialog, IDC_QUIT);
        return 1;
    }
    return 0;
}

// While a run holds the dialog's thread, the messages sent to the dialog
// are answered (the run's waits let it), but nothing ends the dialog or
// starts something beside the run: no command is carried out, a closing is
// ignored, a log-off or shut-down is refused (the run has told the system
// why), and of the system commands only minimising and restoring are
// carried out (moving, sizing and the window menu would hold up the run's
// waits). True for a message so answered.
static bool RefusedDuringRun(HWND dialog, UINT message, WPARAM wParam) {
    if (dialogRunUnderWay == 0) {
        return false;
    }
    switch (message) {
    case WM_QUERYENDSESSION:
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, FALSE);
        return true;
    case WM_COMMAND:
    case WM_CLOSE:
        return true;
    case WM_SYSCOMMAND:
        return (wParam & 0xFFF0) != SC_MINIMIZE && (wParam & 0xFFF0) != SC_RESTORE;
    }
    return false;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (RefusedDuringRun(dialog, message, wParam)) {
        return TRUE;
    }
    // The taskbar has made the dialog's button: the run's progress may show
    // on it from now on. The answer is the default.
    if (IsTaskbarButtonMessage(message)) {
        TaskbarButtonCreated(dialog);
        return 0;
    }
    switch (message) {
    case WM_INITDIALOG:
        return StartUpDialog(dialog);
    case WM_DESTROY:
        ForgetTaskbarButton(dialog);
        return 0;
    case WM_DEVICECHANGE:
        // A USB adapter plugged in or pulled out: the port list anew. The
        // answer is the default.
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE ||
            wParam == DBT_DEVNODES_CHANGED) {
            WCHAR textArea[kDialogTextSize];
            FillPortList(dialog, textArea);
        }
        return 0;
    case WM_COMMAND:
        // The identifier only; the notification code is not looked at.
        return HandleCommand(dialog, LOWORD(wParam));
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(ColourControl(
            dialog, message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    }
    return 0;
}
