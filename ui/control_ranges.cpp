#include "control_ranges.h"

void ShowControlRange(HWND dialog, int first, int last, int showCommand) {
    for (int id = first; id <= last; ++id) {
        HWND control = GetDlgItem(dialog, id);
        if (control != nullptr) {
            ShowWindow(control, showCommand);
        }
    }
}
