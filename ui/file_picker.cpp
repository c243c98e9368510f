#include "dialog_handlers.h"
#include "dialog_ids.h"
#include "main_dialog.h"
#include "open_file_block.h"
#include "text_adapters.h"
#include "text_conversion.h"

// Room of the longest working directory the platform has, with terminator.
enum : DWORD { kDirectoryRoom = 32768 };

// The working directory from before the picker opened.
static WCHAR savedDirectory[kDirectoryRoom];

void PickScriptFile(HWND dialog) {
    // The picker moves the working directory to the folder of the chosen
    // file; the program's own stays where it was.
    const DWORD length = GetCurrentDirectoryW(kDirectoryRoom, savedDirectory);
    const bool directorySaved = length > 0 && length < kDirectoryRoom;

    HWND edit = GetDlgItem(dialog, IDC_FILE_NAME);
    GetControlText(edit, fileNameBuffer, kFileNameRoom);
    ConvertToCodePage(CP_ACP, fileNameBuffer, pickerFileBuffer, kFileNameRoom);
    FillOpenFileBlock(&openFileBlock, dialog, pickerFileBuffer);
    // After a cancel the edit keeps its text untouched, also characters that
    // the code page cannot carry.
    if (GetOpenFileNameA(&openFileBlock)) {
        ConvertFromCodePage(CP_ACP, pickerFileBuffer, kFileNameRoom, fileNameBuffer, kFileNameRoom);
        SetControlText(edit, fileNameBuffer);
    }

    if (directorySaved) {
        SetCurrentDirectoryW(savedDirectory);
    }
}
