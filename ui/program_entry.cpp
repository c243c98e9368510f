// KORVAN_Setup.exe: loads the colour scheme, runs the main dialog until the
// technician quits and saves the colour scheme again.
#include "program_entry.h"

#include "colour_scheme.h"
#include "dialog_ids.h"
#include "main_dialog.h"

HINSTANCE instanceHandle;

HINSTANCE GetInstanceHandle() {
    return instanceHandle;
}

INT_PTR RunModalDialog(HWND owner, int16_t resource, DLGPROC procedure) {
    return DialogBoxParamA(GetInstanceHandle(), MAKEINTRESOURCEA(static_cast<uint16_t>(resource)),
                           owner, procedure, 0);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    instanceHandle = instance;
    // A programming run holds the dialog thread for minutes. Its waits answer
    // the platform's messages, so the dialog is never taken for hung; should
    // a step hold the thread longer all the same (a port that takes seconds
    // to open), the platform must not swap the dialog for a frozen "Not
    // Responding" copy.
    DisableProcessWindowsGhosting();
    LoadColourTable();
    RunModalDialog(nullptr, IDD_MAIN_DIALOG, MainDialogProc);
    SaveColourTable();
    return 0;
}
