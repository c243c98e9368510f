// KORVAN_Setup.exe: loads the colour scheme, runs the main dialog until the
// technician quits and saves the colour scheme again.
#include "colour_table.h"
#include "dialog_ids.h"
#include "main_dialog.h"
#include "program_entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    instanceHandle = instance;
    // A programming run holds the dialog thread for minutes; the platform
    // must not swap the dialog for a frozen "Not Responding" copy meanwhile.
    DisableProcessWindowsGhosting();
    LoadColourTable();
    RunModalDialog(nullptr, IDD_MAIN_DIALOG, MainDialogProc);
    SaveColourTable();
    return 0;
}
