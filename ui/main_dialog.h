// The main dialog: its procedure and the state it keeps between messages.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <cstdint>

enum : int32_t {
    kFileNameRoom = 260,    // a path of up to 259 characters and its terminator
    kDialogTextSize = 1000, // 16-bit characters of a text on its way to a control
};

// The file name on its way into the edit and to and from the file picker.
extern WCHAR fileNameBuffer[kFileNameRoom];
// The same name in the ANSI code page, as the picker reads and writes it.
extern char pickerFileBuffer[kFileNameRoom];
// The picker's parameter block, filled afresh before every use.
extern OPENFILENAMEA openFileBlock;

// The dialog procedure of dialog resource 10.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
