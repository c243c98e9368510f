#include "open_file_block.h"

#include "main_dialog.h"

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
    block->nMaxFile = kFileNameRoom;
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
