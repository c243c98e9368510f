#include "control_ranges.h"
#include "dialog_handlers.h"
#include "dialog_ids.h"
#include "list_entry_texts.h"
#include "main_dialog.h"
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

INT_PTR StartUpDialog(HWND dialog) {
    WCHAR textArea[kDialogTextSize];

    HWND ports = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    FillList(ports, kPortEntries, ComposePortEntry, textArea);
    SendMessageA(ports, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);

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
