#include "support/run_driver.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "dialog_ids.h"
#include "main_dialog.h"
#include "main_dialog.h"
#include "run_face.h"
#include "simulator.h"
#include "support/peer_port.h"
#include "support/window_search.h"

namespace {

std::atomic<int> beepCount{0};

BOOL WINAPI CountBeep(DWORD, DWORD) {
    ++beepCount;
    return TRUE;
}

// Set by the run's own thread only.
std::vector<EXECUTION_STATE> executionStates;

EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE state) {
    executionStates.push_back(state);
    return ES_CONTINUOUS;
}

const int kInputIds[] = {
    IDC_COM_PORT_LABEL,   IDC_COM_PORT_LIST, IDC_LOAD_FIRMWARE, IDC_SET_PROFIBUS_ID,
    IDC_FILE_NAME_LABEL,  IDC_FILE_NAME,     IDC_FILE_SETUP,    IDC_PROFIBUS_ID_LABEL,
    IDC_PROFIBUS_ID_LIST, IDC_START};

bool InputsEnabled(HWND dialog, bool enabled) {
    for (int id : kInputIds) {
        if ((IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE) != enabled) {
            return false;
        }
    }
    return true;
}

} // namespace

HWND OpenMainDialog() {
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
                                     nullptr, MainDialogProc, 0);
    if (dialog != nullptr) {
        ShowWindow(dialog, SW_SHOW);
    }
    return dialog;
}

void ChoosePort(HWND dialog, int portNumber) {
    // Each entry carries its port number; 0 leaves no entry selected.
    HWND list = GetDlgItem(dialog, IDC_COM_PORT_LIST);
    LRESULT entry = -1;
    for (LRESULT k = 0; k < SendMessageA(list, CB_GETCOUNT, 0, 0); ++k) {
        if (SendMessageA(list, CB_GETITEMDATA, k, 0) == portNumber) {
            entry = k;
        }
    }
    SendMessageA(list, CB_SETCURSEL, entry, 0);
}

void ChooseFirmwareJob(HWND dialog, const std::string& scriptPath) {
    SendDlgItemMessageA(dialog, IDC_LOAD_FIRMWARE, BM_CLICK, 0, 0);
    SetDlgItemTextA(dialog, IDC_FILE_NAME, scriptPath.c_str());
}

void ChooseProfibusJob(HWND dialog, int profibusId) {
    SendDlgItemMessageA(dialog, IDC_SET_PROFIBUS_ID, BM_CLICK, 0, 0);
    SendDlgItemMessageA(dialog, IDC_PROFIBUS_ID_LIST, CB_SETCURSEL, profibusId - 1, 0);
}

JobOutcome RunJob(HWND dialog, bool switchModule, int holdPromptMs,
                  const std::function<void()>& atPowerCycle) {
    JobOutcome outcome;
    std::atomic<bool> over{false};
    const DWORD dialogThread = GetCurrentThreadId();
    std::thread technician([&] {
        // The prompt is a box without title, owned by the dialog.
        DialogQuery query;
        query.thread = dialogThread;
        query.owner = dialog;
        query.caption = "";
        HWND box = nullptr;
        while (box == nullptr && !over) {
            box = WaitForDialog(query, 50);
        }
        if (box == nullptr) {
            return;
        }
        Stopwatch standing;
        outcome.prompted = true;
        outcome.promptCaption = WindowTextA(box);
        outcome.promptText = WindowTextA(GetDlgItem(box, 0xFFFF));
        outcome.inputsDisabledDuringPrompt = InputsEnabled(dialog, false);
        if (atPowerCycle) {
            atPowerCycle();
        }
        if (switchModule) {
            PowerOnModule();
        }
        Sleep(holdPromptMs);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitForWindowGone(box, 5000);
        outcome.promptMs = standing.Ms();
    });
    beepCount = 0;
    failureBeep = CountBeep;
    executionStates.clear();
    setExecutionState = RecordExecutionState;
    Stopwatch clock;
    SendMessageA(dialog, WM_COMMAND, IDC_START, 0);
    outcome.runMs = clock.Ms();
    over = true;
    technician.join();
    failureBeep = Beep;
    setExecutionState = SetThreadExecutionState;
    outcome.beeps = beepCount;
    outcome.executionStates = executionStates;
    outcome.status = WindowTextA(GetDlgItem(dialog, IDC_STATE_LINE));
    outcome.result = WindowTextA(GetDlgItem(dialog, IDC_RESULT_LINE));
    outcome.inputsEnabledAfter = InputsEnabled(dialog, true);
    return outcome;
}

void PumpDialogQueue(HWND dialog, const std::function<bool()>& done, int limitMs) {
    Stopwatch pumping;
    MSG message;
    for (;;) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        if (pumping.Ms() >= limitMs || (done && done())) {
            return;
        }
        Sleep(5);
    }
}

std::string TracedBytes(const std::string& tracePath, char tag) {
    std::ifstream file(tracePath, std::ios::binary);
    std::string records((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string bytes;
    for (size_t i = 0; i + 1 < records.size(); i += 2) {
        if (records[i + 1] == tag) {
            bytes.push_back(records[i]);
        }
    }
    return bytes;
}

std::string BytesReceivedByModule(const std::string& tracePath) {
    return TracedBytes(tracePath, 1);
}

std::string WriteTempFile(const std::string& name, const std::string& bytes) {
    std::string path = TempPath(name);
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}
