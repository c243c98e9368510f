// The file picker behind "Setup": its parameter block and its use.
#include "dialog_ids.h"
#include "main_dialog.h"
#include "text_adapters.h"
#include "text_conversion.h"

// The picker's one filter: its text, a zero byte, its pattern, two zero bytes.
static const char kScriptFilter[] = "DCS-Files (*.DCS)\0*.dcs\0";

void FillOpenFileBlock(OPENFILENAMEA* block, HWND owner, char* file) {
    // The size of the block without the fields of later versions (76 bytes
    // in a 32-bit program): the picker takes this one (or the full size).
    block->lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    block->hwndOwner = owner;
    block->hInstance = nullptr;
    block->lpstrFilter = kScriptFilter;
    block->lpstrCustomFilter = nullptr;
    block->nMaxCustFilter = 0;
    block->nFilterIndex = 0;
    block->lpstrFile = file;
    block->nMaxFile = kPickerFileRoom;
    block->lpstrFileTitle = nullptr;
    block->nMaxFileTitle = kFileNameRoom;
    block->lpstrInitialDir = nullptr;
    block->lpstrTitle = nullptr;
    block->Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    block->nFileOffset = 0;
    block->nFileExtension = 0;
    block->lpstrDefExt = "dcs";
    block->lCustData = 0;
    block->lpfnHook = nullptr;
    block->lpTemplateName = nullptr;
}

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
    ConvertToCodePage(CP_ACP, fileNameBuffer, pickerFileBuffer, kPickerFileRoom);
    FillOpenFileBlock(&openFileBlock, dialog, pickerFileBuffer);
    // After a cancel the edit keeps its text untouched, also characters that
    // the code page cannot carry.
    if (GetOpenFileNameA(&openFileBlock)) {
        ConvertFromCodePage(CP_ACP, pickerFileBuffer, kPickerFileRoom, fileNameBuffer,
                            kFileNameRoom);
        SetControlText(edit, fileNameBuffer);
    }

    if (directorySaved) {
        SetCurrentDirectoryW(savedDirectory);
    }
}
