// The file picker's parameter block, as plain data.
#pragma once

#include <windows.h>

#include <commdlg.h>

// Fills block for an open-file picker owned by owner that starts with the
// name in file (room kFileNameRoom bytes) and leaves the chosen path there:
// one existing .dcs file, no read-only box.
void FillOpenFileBlock(OPENFILENAMEA* block, HWND owner, char* file);
