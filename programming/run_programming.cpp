#include "run_programming.h"

#include "dialog_ids.h"
#include "module_procedures.h"
#include "run_lines.h"
#include "script_store.h"
#include "serial_port.h"
#include "text_adapters.h"

BeepSound failureBeep = Beep;
ExecutionStateCall setExecutionState = SetThreadExecutionState;

// 9600 baud, 8 data bits, no parity, one stop bit, DTR on, RTS off, no
// callbacks: direct mode.
static PortConfig RunPortConfig(int16_t port) {
    PortConfig config = {port, 9600, 0, 8, 1, 1, 0, nullptr, nullptr, nullptr, 1, 0};
    return config;
}

static void EnableInputControls(HWND dialog, BOOL enable) {
    for (int id = IDC_INPUT_FIRST; id <= IDC_INPUT_LAST; ++id) {
        HWND control = GetDlgItem(dialog, id);
        if (control != nullptr) {
            EnableWindow(control, enable);
        }
    }
}

static RunFailure LoadRunScript(RunContext* run) {
    GetControlText(GetDlgItem(run->dialog, IDC_FILE_NAME), run->scriptName, kScriptNameRoom);
    if (LoadScript(kRunScriptSlot, run->scriptName) != 0) {
        return "The Script file could not be loaded";
    }
    return nullptr;
}

// Each entry of the port list carries its port number; no selection gives
// port 0.
static int16_t ChosenPort(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    LRESULT entry = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (entry == CB_ERR) {
        return 0;
    }
    return static_cast<int16_t>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(entry), 0));
}

static void AskForPowerCycle(RunContext* run) {
    WidenText(run->textArea, "Please switch the Korvan module OFF and then ON");
    ShowMessageBox(run->dialog, run->textArea, nullptr, MB_OK);
}

// From the opening of the port to the job's result. Bytes that arrive while
// the prompt is open count for the detection. *portOwned tells whether the
// run has the port to close: not when this process holds it open already.
static RunFailure TalkToModule(RunContext* run, bool* portOwned) {
    PortConfig config = RunPortConfig(run->port);
    const int16_t opened = OpenPort(&config);
    *portOwned = opened != kPortInUse;
    if (opened != 0) {
        return "Error on opening the COM-Port";
    }
    DiscardInput(run->port, 100);
    AskForPowerCycle(run);
    SetStatusLine(run, "Wait for detection of Korvan");
    if (DetectModule(run) != 0) {
        return "Connected instrument is no Korvan module";
    }
    DiscardInput(run->port, 200);
    return run->mode == kFirmwareMode ? ProgramFirmware(run) : SetProfibusId(run);
}

void RunProgramming(HWND dialog) {
    // A laptop that went to sleep mid-download would leave the module
    // without firmware: the system stays awake until the run is over.
    setExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    RunContext run;
    run.dialog = dialog;
    run.port = 0;
    EnableInputControls(dialog, FALSE);
    SetStatusLine(&run, " ");
    SetResultLine(&run, " ");
    LRESULT check = SendMessageA(GetDlgItem(dialog, IDC_LOAD_FIRMWARE), BM_GETCHECK, 0, 0);
    run.mode = check == BST_CHECKED ? kFirmwareMode : kProfibusIdMode;

    RunFailure failure = run.mode == kFirmwareMode ? LoadRunScript(&run) : nullptr;
    bool portOwned = false;
    if (failure == nullptr) {
        run.port = ChosenPort(dialog);
        failure = TalkToModule(&run, &portOwned);
    }
    // The status line keeps the step that failed; the result line says why.
    if (failure != nullptr) {
        SetResultLine(&run, failure);
        failureBeep(1500, 150);
    }
    if (portOwned) {
        ClosePort(run.port); // also after a failed opening: releases what it left
    }
    ReleaseScript(kRunScriptSlot);
    EnableInputControls(dialog, TRUE);
    setExecutionState(ES_CONTINUOUS);
}
