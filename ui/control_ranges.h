// Showing a whole identifier range of the dialog's controls at once.
#pragma once

#include <windows.h>

// ShowWindow(showCommand) on every control first..last (both included); an
// identifier without a control is passed over.
void ShowControlRange(HWND dialog, int first, int last, int showCommand);
