// The main dialog's answers to its messages, one per file.
#pragma once

#include <windows.h>

#include <cstdint>

// WM_INITDIALOG: fills the lists, checks the firmware job, presets the file
// name and clears the status and result lines. Returns 1.
INT_PTR StartUpDialog(HWND dialog);

// The port list anew after a device was plugged in or pulled out: COM1 to
// COM8, then the further ports the PC has; the chosen port stays chosen while
// it is there.
void RefreshPortList(HWND dialog);

// The port number of the chosen port list entry; 0 when none is chosen.
int16_t ChosenPortEntry(HWND dialog);

// Radio button 10 or 11: shows the group of the checked job, hides the other.
void SwitchJob(HWND dialog);

// "Setup": lets the technician pick the script file; a chosen file's full
// path goes into the file-name edit. The working directory stays as it was.
void PickScriptFile(HWND dialog);

// WM_CTLCOLOREDIT to WM_CTLCOLORSTATIC: sets the text and background colour
// of the control's device context and returns the background brush.
HBRUSH ColourControl(HWND dialog, UINT message, HDC deviceContext, HWND control);
