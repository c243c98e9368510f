#include "program_entry.h"

INT_PTR RunModalDialog(HWND owner, int16_t resource, DLGPROC procedure) {
    return DialogBoxParamA(GetInstanceHandle(), MAKEINTRESOURCEA(static_cast<uint16_t>(resource)),
                           owner, procedure, 0);
}
