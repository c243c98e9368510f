#include "main_dialog.h"

#include <dbt.h>

#include "dialog_handlers.h"
#include "dialog_ids.h"
#include "run_programming.h"

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
        RunProgramming(dialog);
        return 1;
    case IDC_QUIT:
        EndDialog(dialog, IDC_QUIT);
        return 1;
    }
    return 0;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return StartUpDialog(dialog);
    case WM_DEVICECHANGE:
        // A USB adapter plugged in or pulled out; the answer is the default.
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE ||
            wParam == DBT_DEVNODES_CHANGED) {
            RefreshPortList(dialog);
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
