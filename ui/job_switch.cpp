#include "control_ranges.h"
#include "dialog_handlers.h"
#include "dialog_ids.h"

void SwitchJob(HWND dialog) {
    LRESULT check = SendMessageA(GetDlgItem(dialog, IDC_LOAD_FIRMWARE), BM_GETCHECK, 0, 0);
    if (check == BST_CHECKED) {
        ShowControlRange(dialog, IDC_FIRMWARE_GROUP_FIRST, IDC_FIRMWARE_GROUP_LAST, SW_SHOW);
        ShowControlRange(dialog, IDC_PROFIBUS_GROUP_FIRST, IDC_PROFIBUS_GROUP_LAST, SW_HIDE);
    } else {
        ShowControlRange(dialog, IDC_FIRMWARE_GROUP_FIRST, IDC_FIRMWARE_GROUP_LAST, SW_HIDE);
        ShowControlRange(dialog, IDC_PROFIBUS_GROUP_FIRST, IDC_PROFIBUS_GROUP_LAST, SW_SHOW);
    }
}
