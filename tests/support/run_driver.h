// Test support: a technician at the real main dialog, with the simulated
// module at the far end of the cable (tool on COM1, module on COM2).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

enum { kToolPort = 1, kModulePort = 2 };

// Creates the main dialog from its resource with the real dialog procedure
// and shows it; the caller's thread is the dialog's thread.
HWND OpenMainDialog();

// Selects the entry of COMn in the port list; a port that is not listed,
// or 0, leaves no entry selected.
void ChoosePort(HWND dialog, int portNumber);
void ChooseFirmwareJob(HWND dialog, const std::string& scriptPath);
// Picks the list entry of the ID (1 to 127).
void ChooseProfibusJob(HWND dialog, int profibusId);

struct JobOutcome {
    std::string status;
    std::string result;
    int beeps = 0;
    bool prompted = false; // the OFF/ON prompt came up
    std::string promptText;
    std::string promptCaption;
    bool inputsDisabledDuringPrompt = false;
    bool inputsEnabledAfter = false;
    // What the run told the system about staying awake, in order.
    std::vector<EXECUTION_STATE> executionStates;
    double runMs = 0;    // from START to the end of the run
    double promptMs = 0; // how long the prompt stood
};

// Presses START and waits for the run to end. Meanwhile a second thread
// answers the OFF/ON prompt as a technician would: it calls atPowerCycle
// (when given) and, when switchModule is true, switches the simulated module
// on; then it waits holdPromptMs before it presses OK.
JobOutcome RunJob(HWND dialog, bool switchModule = true, int holdPromptMs = 0,
                  const std::function<void()>& atPowerCycle = nullptr);

// Handles the dialog thread's messages as the program's modal loop does,
// until done() is true (nullptr: never) or limitMs has passed.
void PumpDialogQueue(HWND dialog, const std::function<bool()>& done, int limitMs);

// The bytes of a serial trace file with the direction tag (1 received, 2
// sent).
std::string TracedBytes(const std::string& tracePath, char tag);

// The bytes that reached the module, from its trace file.
std::string BytesReceivedByModule(const std::string& tracePath);

// Writes a file of the bytes and returns its path (temporary folder).
std::string WriteTempFile(const std::string& name, const std::string& bytes);
