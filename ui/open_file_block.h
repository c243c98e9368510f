// The file picker's parameter block, as plain data.
#pragma once

#include <windows.h>

#include <commdlg.h>

// The picker's one filter: its text, a zero byte, its pattern, two zero bytes.
static const char kScriptFilter[] = "DCS-Files (*.DCS)\0*.dcs\0";

// Fills block for an open-file picker owned by owner that starts with the
// name in file (room kFileNameRoom bytes) and leaves the chosen path there:
// one existing .dcs file, no read-only box.
void FillOpenFileBlock(OPENFILENAMEA* block, HWND owner, char* file);
