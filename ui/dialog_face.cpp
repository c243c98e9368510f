// The dialog as the face of a programming run: the run takes its choices
// from the controls, writes its texts into the status and result lines and
// asks for the power cycle in a message box. The run holds the dialog's
// thread; its waits let the dialog answer what the system sends it.
#include <cstdio>

#include "dialog_ids.h"
#include "main_dialog.h"
#include "run_face.h"
#include "taskbar_progress.h"
#include "text_adapters.h"
#include "wait_hook.h"

BeepSound failureBeep = Beep;
ShutdownBlockCalls shutdownBlock = {ShutdownBlockReasonCreate, ShutdownBlockReasonDestroy};
int16_t dialogRunUnderWay = 0;

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

// Most input messages dropped in one go; more than a person makes in a run.
enum : int32_t { kDroppedInputLimit = 10000 };

// Drops the mouse and keyboard input that waits in the thread's queue, and
// the closings posted to the dialog (the taskbar's "Close window"). A click
// is matched to its control when it is taken from the queue: without this,
// what the technician clicked or typed while the run held the thread would
// reach the controls once they are enabled again (a second run, or the end
// of the dialog).
void DropQueuedInput() {
    const UINT ranges[][2] = {{WM_KEYFIRST, WM_KEYLAST},
                              {WM_MOUSEFIRST, WM_MOUSELAST},
                              {WM_NCMOUSEMOVE, WM_NCMBUTTONDBLCLK},
                              {WM_CLOSE, WM_CLOSE},
                              {WM_SYSCOMMAND, WM_SYSCOMMAND}};
    MSG message;
    for (const auto& range : ranges) {
        for (int32_t k = 0; k < kDroppedInputLimit; ++k) {
            if (!PeekMessageA(&message, nullptr, range[0], range[1], PM_REMOVE)) {
                break;
            }
        }
    }
}

// Most paint messages handled in one go: one for each window of the dialog,
// and room.
enum : int32_t { kPaintLimit = 64 };

// The hook of the run's waits: the messages that the system and other
// programs send the dialog are answered (the dialog procedure refuses what
// would end the dialog or start something beside the run), and the status
// line is painted as it changes. Nothing posted is taken from the queue.
void AnswerSentMessages() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    for (int32_t k = 0; k < kPaintLimit; ++k) {
        if (!PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT)) {
            break;
        }
        DispatchMessageA(&message);
    }
}

// A log-off or shut-down asked for during a run waits for its end, with the
// reason the system shows.
void BeginRun(void* context) {
    HWND dialog = static_cast<DialogFace*>(context)->dialog;
    EnableInputControls(dialog, FALSE);
    shutdownBlock.create(dialog, L"Programming the Korvan module: do not switch off");
    TaskbarRunBegins();
}

void EndRun(void* context) {
    HWND dialog = static_cast<DialogFace*>(context)->dialog;
    DropQueuedInput();
    EnableInputControls(dialog, TRUE);
    shutdownBlock.destroy(dialog);
    TaskbarRunEnds();
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

// The status line names the byte just sent; the taskbar button shows the
// share sent.
void ShowProgress(void* context, int32_t index, int32_t size) {
    char text[40];
    snprintf(text, sizeof text, "Update firmware --> %d", static_cast<int>(index));
    ShowStatus(context, text);
    TaskbarShowsShare(index + 1, size);
}

// A box without title, owned by the dialog, with an OK button only; the
// detection always follows.
int16_t RequestPowerCycle(void* context, int16_t, const char* text) {
    DialogFace* face = static_cast<DialogFace*>(context);
    TaskbarAwaitsModule(); // until the download's first bytes, or the run's end
    WidenText(face->textArea, text);
    ShowMessageBox(face->dialog, face->textArea, nullptr, MB_OK);
    return 0;
}

void SignalFailure(void*) {
    TaskbarShowsFailure();
    failureBeep(1500, 150);
}

// The found port becomes the chosen entry: the next run goes to it directly.
void PortFound(void* context, int16_t port) {
    ChoosePortEntry(static_cast<DialogFace*>(context)->dialog, port);
}

// The dialog keeps no record of its runs: the result line says it all.
void ShowReport(void*, const RunReport*) {}

} // namespace

void RunDialogJob(HWND dialog) {
    if (dialogRunUnderWay != 0) {
        return;
    }
    dialogRunUnderWay = 1;
    DialogFace context;
    context.dialog = dialog;
    const RunFace face = {&context,      BeginRun,   EndRun,       ReadChoices,
                          ShowStatus,    ShowResult, ShowProgress, RequestPowerCycle,
                          SignalFailure, PortFound,  ShowReport};
    SetWaitHook(AnswerSentMessages);
    RunProgramming(&face);
    SetWaitHook(nullptr);
    dialogRunUnderWay = 0;
}
