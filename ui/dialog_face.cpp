// The dialog as the face of a programming run: the run takes its choices
// from the controls, writes its texts into the status and result lines and
// asks for the power cycle in a message box.
#include <cstdio>

#include "dialog_ids.h"
#include "main_dialog.h"
#include "run_face.h"
#include "text_adapters.h"

BeepSound failureBeep = Beep;

namespace {

struct DialogFace {
    HWND dialog;
    WCHAR textArea[kDialogTextSize]; // a text on its way to a control
};

// Disables or enables every control 10 to 209 that the dialog has.
void EnableInputControls(HWND dialog, BOOL enable) {
    for (int id = IDC_INPUT_FIRST; id <= IDC_INPUT_LAST; ++id) {
        HWND control = GetDlgItem(dialog, id);
        if (control != nullptr) {
            EnableWindow(control, enable);
        }
    }
}

void SetLine(DialogFace* face, int id, const char* text) {
    WidenText(face->textArea, text);
    SetControlText(GetDlgItem(face->dialog, id), face->textArea);
}

void BeginRun(void* context) {
    EnableInputControls(static_cast<DialogFace*>(context)->dialog, FALSE);
}

void EndRun(void* context) {
    EnableInputControls(static_cast<DialogFace*>(context)->dialog, TRUE);
}

// Radio button 10 checked means firmware; each port entry carries its port
// number; entry k of the ID list names ID k + 1.
void ReadChoices(void* context, RunChoices* choices) {
    HWND dialog = static_cast<DialogFace*>(context)->dialog;
    LRESULT check = SendMessageA(GetDlgItem(dialog, IDC_LOAD_FIRMWARE), BM_GETCHECK, 0, 0);
    choices->mode = check == BST_CHECKED ? kFirmwareMode : kProfibusIdMode;
    GetControlText(GetDlgItem(dialog, IDC_FILE_NAME), choices->scriptName, kScriptNameRoom);
    choices->port = ChosenPortEntry(dialog);
    if (choices->port == kAnyPort) {
        choices->watchCount = ListedPorts(dialog, choices->watchPorts, kWatchPortLimit);
    }
    LRESULT entry = SendMessageA(GetDlgItem(dialog, IDC_PROFIBUS_ID_LIST), CB_GETCURSEL, 0, 0);
    choices->profibusId = static_cast<int16_t>(entry + 1);
}

void ShowStatus(void* context, const char* text) {
    SetLine(static_cast<DialogFace*>(context), IDC_STATE_LINE, text);
}

void ShowResult(void* context, const char* text) {
    SetLine(static_cast<DialogFace*>(context), IDC_RESULT_LINE, text);
}

// The status line names the byte just sent.
void ShowProgress(void* context, int32_t index, int32_t) {
    char text[40];
    snprintf(text, sizeof text, "Update firmware --> %d", static_cast<int>(index));
    ShowStatus(context, text);
}

// A box without title, owned by the dialog, with an OK button only.
void RequestPowerCycle(void* context, int16_t, const char* text) {
    DialogFace* face = static_cast<DialogFace*>(context);
    WidenText(face->textArea, text);
    ShowMessageBox(face->dialog, face->textArea, nullptr, MB_OK);
}

void SignalFailure(void*) {
    failureBeep(1500, 150);
}

// The found port becomes the chosen entry: the next run goes to it directly.
void PortFound(void* context, int16_t port) {
    ChoosePortEntry(static_cast<DialogFace*>(context)->dialog, port);
}

} // namespace

void RunDialogJob(HWND dialog) {
    DialogFace context;
    context.dialog = dialog;
    const RunFace face = {&context,      BeginRun,   EndRun,       ReadChoices,
                          ShowStatus,    ShowResult, ShowProgress, RequestPowerCycle,
                          SignalFailure, PortFound};
    RunProgramming(&face);
}
