#include "control_ranges.h"
#include "dialog_handlers.h"
#include "dialog_ids.h"
#include "list_entry_texts.h"
#include "main_dialog.h"
#include "port_list.h"
#include "text_adapters.h"

// Empties a list and fills it with the entries 1 to count in order.
static void FillList(HWND list, int16_t count, void (*compose)(int16_t, char*), WCHAR* textArea) {
    char entry[kListEntryRoom];
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (int16_t n = 1; n <= count; ++n) {
        compose(n, entry);
        WidenText(textArea, entry);
        AddListText(list, textArea);
    }
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

// COM1 to COM8 always, then every further port the PC has, ascending; each
// entry carries its port number. The port chosen before stays chosen while
// it is in the list.
static void FillPortList(HWND dialog, WCHAR* textArea) {
    HWND list = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    const int16_t chosen = ChosenPortEntry(dialog);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (int16_t port = 1; port <= kPortEntries; ++port) {
        AddPortEntry(list, port, textArea);
    }
    static int16_t present[kPortSlots];
    const int16_t count = ListPresentPorts(present, kPortSlots);
    for (int16_t i = 0; i < count; ++i) {
        if (present[i] > kPortEntries) {
            AddPortEntry(list, present[i], textArea);
        }
    }
    LRESULT select = -1;
    const LRESULT entries = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT k = 0; k < entries && chosen != 0; ++k) {
        if (SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(k), 0) == chosen) {
            select = k;
        }
    }
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
}

int16_t ChosenPortEntry(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    LRESULT entry = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (entry == CB_ERR) {
        return 0;
    }
    return static_cast<int16_t>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(entry), 0));
}

void RefreshPortList(HWND dialog) {
    WCHAR textArea[kDialogTextSize];
    FillPortList(dialog, textArea);
}

INT_PTR StartUpDialog(HWND dialog) {
    WCHAR textArea[kDialogTextSize];

    // No port is chosen at the start.
    SendMessageA(GetDlgItem(dialog, IDC_COM_PORT_LIST), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    FillPortList(dialog, textArea);

    SendMessageA(GetDlgItem(dialog, IDC_LOAD_FIRMWARE), BM_SETCHECK, BST_CHECKED, 0);
    ShowControlRange(dialog, IDC_FIRMWARE_GROUP_FIRST, IDC_FIRMWARE_GROUP_LAST, SW_SHOW);
    SendMessageA(GetDlgItem(dialog, IDC_SET_PROFIBUS_ID), BM_SETCHECK, BST_UNCHECKED, 0);
    ShowControlRange(dialog, IDC_PROFIBUS_GROUP_FIRST, IDC_PROFIBUS_GROUP_LAST, SW_HIDE);

    WidenText(fileNameBuffer, "Korvan.dcs");
    SetControlText(GetDlgItem(dialog, IDC_FILE_NAME), fileNameBuffer);

    HWND ids = GetDlgItem(dialog, IDC_PROFIBUS_ID_LIST);
    FillList(ids, kProfibusIdEntries, ComposeProfibusIdEntry, textArea);
    SendMessageA(ids, CB_SETCURSEL, 0, 0);

    // A single blank stands for an empty line.
    WidenText(textArea, " ");
    SetControlText(GetDlgItem(dialog, IDC_STATE_LINE), textArea);
    SetControlText(GetDlgItem(dialog, IDC_RESULT_LINE), textArea);
    return 1;
}
