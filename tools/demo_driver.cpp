// korvan-demo-driver.exe: drives a running KORVAN_Setup.exe as a person would,
// for the unattended demo and the guide's screenshots. It picks the port and
// the job, presses START, power-cycles the simulated module through its named
// event when the tool asks for it, presses OK, and waits for the result line.
// choose only picks the port and the job; run --hold-prompt leaves the prompt
// box standing a while, so that it can be photographed.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "dialog_ids.h"
#include "driver_job.h"
#include "tool_windows.h"

namespace {

enum : int32_t {
    kLineCapacity = 300,
    kPollMs = 100,
    kStatusPrintGapMs = 1000, // progress: at most one changed status line a second
    kPowerSettleMs = 300,     // from the power cycle to OK, as a person takes
};

DWORD startTicks = 0;

double Seconds() {
    return static_cast<double>(GetTickCount() - startTicks) / 1000.0;
}

void Say(const char* format, const char* text) {
    printf("[%6.1f s] ", Seconds());
    printf(format, text);
    printf("\n");
    fflush(stdout);
}

int Fail(const char* format, const char* text) {
    printf("[%6.1f s] FAILED: ", Seconds());
    printf(format, text);
    printf("\n");
    fflush(stdout);
    return 1;
}

bool TimedOut(DWORD since, int32_t timeoutMs) {
    return static_cast<int32_t>(GetTickCount() - since) > timeoutMs;
}

HWND WaitForToolDialog(int32_t timeoutMs) {
    const DWORD since = GetTickCount();
    for (;;) {
        HWND dialog = FindToolDialog();
        if (dialog != nullptr || TimedOut(since, timeoutMs)) {
            return dialog;
        }
        Sleep(kPollMs);
    }
}

bool WaitForWindowGone(HWND window, int32_t timeoutMs) {
    const DWORD since = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (TimedOut(since, timeoutMs)) {
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

// Selects entry index of a drop-down list and tells the dialog, as a click does.
bool ChooseListEntry(HWND dialog, int id, int index) {
    LRESULT selected = -1;
    if (!SendToControl(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0, nullptr)) {
        return false;
    }
    SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)), SMTO_ABORTIFHUNG, 10000,
                        nullptr);
    return SendToControl(dialog, id, CB_GETCURSEL, 0, 0, &selected) && selected == index;
}

// Port, job and its file or ID, set in the idle dialog.
int FillInTheDialog(HWND dialog, const DriverSettings* settings) {
    char text[kLineCapacity];
    snprintf(text, sizeof text, "COM%d", settings->portNumber);
    // Each entry of the port list carries its port number.
    const LRESULT portEntry =
        FindListEntryWithData(dialog, IDC_COM_PORT_LIST, settings->portNumber);
    if (portEntry < 0) {
        return Fail("%s is not in the port list", text);
    }
    if (!ChooseListEntry(dialog, IDC_COM_PORT_LIST, static_cast<int>(portEntry))) {
        return Fail("%s could not be selected in the port list", text);
    }
    Say("port list: %s selected", text);

    const int button = settings->job == kJobFirmware ? IDC_LOAD_FIRMWARE : IDC_SET_PROFIBUS_ID;
    LRESULT check = 0;
    if (!SendToControl(dialog, button, BM_CLICK, 0, 0, nullptr) ||
        !SendToControl(dialog, button, BM_GETCHECK, 0, 0, &check) || check != BST_CHECKED) {
        return Fail("the job button %s could not be checked",
                    settings->job == kJobFirmware ? "10" : "11");
    }
    ReadControlText(dialog, button, text, sizeof text);
    Say("job: \"%s\" checked", text);

    if (settings->job == kJobFirmware) {
        char shown[kLineCapacity] = "";
        if (!SendToControl(dialog, IDC_FILE_NAME, WM_SETTEXT, 0,
                           reinterpret_cast<LPARAM>(settings->fileName), nullptr) ||
            !SendToControl(dialog, IDC_FILE_NAME, WM_GETTEXT, sizeof shown,
                           reinterpret_cast<LPARAM>(shown), nullptr) ||
            strcmp(shown, settings->fileName) != 0) {
            return Fail("the file name \"%s\" could not be set", settings->fileName);
        }
        Say("file name: \"%s\"", settings->fileName);
    } else {
        snprintf(text, sizeof text, "%d", settings->profibusId);
        if (!ChooseListEntry(dialog, IDC_PROFIBUS_ID_LIST, settings->profibusId - 1)) {
            return Fail("the Profibus-ID %s could not be selected", text);
        }
        Say("new Profibus-ID: %s selected", text);
    }
    return 0;
}

// After START: the prompt box, or nullptr when the run ended before one came
// (*ended) or none came in time.
HWND WaitForPrompt(HWND dialog, const char* resultBefore, int32_t timeoutMs, bool* ended) {
    const DWORD since = GetTickCount();
    bool seenRunning = false;
    char result[kLineCapacity];
    *ended = false;
    for (;;) {
        HWND box = FindUntitledBox(dialog);
        if (box != nullptr) {
            return box;
        }
        if (!InputControlsEnabled(dialog)) {
            seenRunning = true;
        } else {
            ReadControlText(dialog, IDC_RESULT_LINE, result, sizeof result);
            if (seenRunning || strcmp(result, resultBefore) != 0) {
                *ended = true;
                return nullptr;
            }
        }
        if (TimedOut(since, timeoutMs)) {
            return nullptr;
        }
        Sleep(kPollMs);
    }
}

// Until the input controls are enabled again and the result line holds more
// than its blank; prints the status line as it changes. False on time-out.
bool WaitForRunEnd(HWND dialog, int32_t timeoutMs) {
    const DWORD since = GetTickCount();
    DWORD lastPrint = 0;
    char status[kLineCapacity] = "";
    char printed[kLineCapacity] = "";
    char result[kLineCapacity] = "";
    for (;;) {
        ReadControlText(dialog, IDC_STATE_LINE, status, sizeof status);
        if (strcmp(status, printed) != 0 && status[0] != 0 && strcmp(status, " ") != 0 &&
            GetTickCount() - lastPrint >= kStatusPrintGapMs) {
            Say("status: \"%s\"", status);
            strcpy(printed, status);
            lastPrint = GetTickCount();
        }
        ReadControlText(dialog, IDC_RESULT_LINE, result, sizeof result);
        if (InputControlsEnabled(dialog) && result[0] != 0 && strcmp(result, " ") != 0) {
            return true;
        }
        if (!IsWindow(dialog) || TimedOut(since, timeoutMs)) {
            return false;
        }
        Sleep(kPollMs);
    }
}

int PrintLines(HWND dialog, const DriverSettings* settings) {
    char status[kLineCapacity];
    char result[kLineCapacity];
    ReadControlText(dialog, IDC_STATE_LINE, status, sizeof status);
    ReadControlText(dialog, IDC_RESULT_LINE, result, sizeof result);
    Say("status line: \"%s\"", status);
    Say("result line: \"%s\"", result);
    return strcmp(result, SuccessTextOfJob(settings->job)) == 0 ? 0 : 1;
}

// The tool's idle dialog with port, job and its file or ID chosen; nullptr
// (the reason printed) when there is none or it cannot be filled in.
HWND FindAndFillInTheDialog(const DriverSettings* settings) {
    char text[kLineCapacity];
    snprintf(text, sizeof text, "%d", settings->timeoutMs / 1000);
    HWND dialog = WaitForToolDialog(settings->timeoutMs);
    if (dialog == nullptr) {
        Fail("no KORVAN_Setup dialog showed up within %s s", text);
        return nullptr;
    }
    Say("found the dialog \"%s\"", kToolCaption);
    if (!InputControlsEnabled(dialog)) {
        Fail("%s", "the dialog is busy with a run already");
        return nullptr;
    }
    return FillInTheDialog(dialog, settings) == 0 ? dialog : nullptr;
}

int RunJob(const DriverSettings* settings) {
    char text[kLineCapacity];
    snprintf(text, sizeof text, "%d", settings->timeoutMs / 1000);
    HWND dialog = FindAndFillInTheDialog(settings);
    if (dialog == nullptr) {
        return 1;
    }

    char resultBefore[kLineCapacity];
    ReadControlText(dialog, IDC_RESULT_LINE, resultBefore, sizeof resultBefore);
    // START runs the whole job inside the dialog's thread: post, never send.
    if (!PostToControl(dialog, IDC_START, BM_CLICK, 0, 0)) {
        return Fail("%s", "START could not be pressed");
    }
    Say("%s", "START pressed");

    bool ended = false;
    HWND box = WaitForPrompt(dialog, resultBefore, settings->timeoutMs, &ended);
    if (box == nullptr) {
        if (ended) {
            Fail("%s", "the run ended without asking for the power cycle");
            PrintLines(dialog, settings);
            return 1;
        }
        return Fail("no prompt box showed up within %s s of START", text);
    }
    char prompt[kLineCapacity];
    ReadControlText(box, 0xFFFF, prompt, sizeof prompt); // the message text of a box
    Say("prompt box (empty title): \"%s\"", prompt);
    if (settings->holdPromptMs > 0) {
        snprintf(text, sizeof text, "%ld", static_cast<long>(settings->holdPromptMs));
        Say("prompt box held for %s ms", text);
        Sleep(static_cast<DWORD>(settings->holdPromptMs));
        if (!IsWindow(box)) {
            return Fail("%s", "the prompt box went away while it was held");
        }
    }

    if (settings->powerEventName[0] != 0) {
        if (SetNamedEvent(settings->powerEventName, 10000) != 0) {
            return Fail("the event \"%s\" does not exist: is the simulator running?",
                        settings->powerEventName);
        }
        Say("module switched off and on (event \"%s\" set)", settings->powerEventName);
        Sleep(kPowerSettleMs);
    } else {
        Say("%s", "no power event: the module has to be switched off and on otherwise");
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    if (!WaitForWindowGone(box, settings->timeoutMs)) {
        return Fail("%s", "the prompt box did not close after OK");
    }
    Say("%s", "OK pressed");

    if (!WaitForRunEnd(dialog, settings->timeoutMs)) {
        Fail("the run did not end within %s s", text);
        PrintLines(dialog, settings);
        return 1;
    }
    Say("%s", "the run is over");
    return PrintLines(dialog, settings);
}

// The idle dialog with port and job chosen, ready for START.
int ChooseJob(const DriverSettings* settings) {
    if (FindAndFillInTheDialog(settings) == nullptr) {
        return 1;
    }
    Say("%s", "ready for START");
    return 0;
}

int QuitTool(const DriverSettings* settings) {
    HWND dialog = WaitForToolDialog(settings->timeoutMs);
    if (dialog == nullptr) {
        return Fail("%s", "no KORVAN_Setup dialog to quit");
    }
    if (!PostToControl(dialog, IDC_QUIT, BM_CLICK, 0, 0)) {
        return Fail("%s", "Quit could not be pressed");
    }
    if (!WaitForWindowGone(dialog, settings->timeoutMs)) {
        return Fail("%s", "the dialog is still there after Quit");
    }
    Say("%s", "Quit pressed: the dialog is gone");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    startTicks = GetTickCount();
    static DriverSettings settings;
    char error[200];
    if (ParseDriverArguments(argc, argv, &settings, error, sizeof error) != 0) {
        fprintf(stderr, "korvan-demo-driver: %s\n", error);
        return 2;
    }
    switch (settings.command) {
    case kDriverHelp:
        fputs(DriverHelpText().c_str(), stdout);
        return 0;
    case kDriverRun:
        return RunJob(&settings);
    case kDriverChoose:
        return ChooseJob(&settings);
    case kDriverQuit:
        return QuitTool(&settings);
    default:
        if (SetNamedEvent(settings.eventName, settings.timeoutMs) != 0) {
            return Fail("the event \"%s\" did not turn up", settings.eventName);
        }
        return 0;
    }
}
