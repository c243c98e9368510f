// What a programming run needs from whoever drives it, and what it gives
// back. The dialog and the console program are two faces of the same run:
// each supplies the choices, shows the status and result texts, makes the
// OFF/ON request and sounds (or not) the failure beep.
#pragma once

#include <windows.h>

#include <cstdint>

// The jobs: new firmware, a new Profibus-ID, or only a look at the module's
// configuration record (nothing is written back).
enum RunMode { kFirmwareMode, kProfibusIdMode, kReadIdMode };

// How a run ended. The failures are numbered as the console program's exit
// statuses (1 is its usage error).
enum RunOutcome : int16_t {
    kRunSucceeded = 0,
    kScriptNotLoaded = 2,   // "The Script file could not be loaded"
    kPortNotOpened = 3,     // "Error on opening the COM-Port"
    kNoKorvanModule = 4,    // "Connected instrument is no Korvan module"
    kNoAnswer = 5,          // "Korvan does not answer"
    kNotProgrammed = 6,     // "Korvan could not be programmed"
    kConfigNotRead = 7,     // "Configuration of Korvan module cannot be read"
    kConfigNotAccepted = 8, // "Error in received configuration of Korvan module"
    kRunInterrupted = 9     // "The run was interrupted": cut short from outside (InterruptPort)
};

// The result-line text of a failure; nullptr for kRunSucceeded.
const char* FailureText(RunOutcome outcome);

enum : int32_t {
    kScriptNameRoom = 260, // the platform's path limit, terminator included
    kTraceNameRoom = 260,
    kDetailRoom = 160,       // a failure's detail
    kStartupTextRoom = 201,  // the start-up output kept: 200 characters
    kConfigRecordRoom = 401, // the longest configuration record, 400 characters
};

// The port of a run that finds the module itself: it listens on every port
// of watchPorts at once and goes on on the one that sends the banner.
enum : int16_t { kAnyPort = -1 };
// Most ports such a run watches.
enum : int16_t { kWatchPortLimit = 64 };

// The answers of a face's requestPowerCycle.
enum : int16_t {
    kPowerCycleDone = 0,       // the module may have been switched on: on to the detection
    kPowerCycleNoModule = 1,   // the face waited for the module's start-up output in vain
    kPowerCycleDeviceGone = 2, // the port's device went away meanwhile (an adapter pulled out)
};

// What was chosen for the run.
struct RunChoices {
    RunMode mode;
    int16_t port;                        // 1 to 256; 0 when none is chosen; or kAnyPort
    int16_t watchPorts[kWatchPortLimit]; // kAnyPort: the ports to listen on
    int16_t watchCount;
    WCHAR scriptName[kScriptNameRoom];  // firmware mode: the script file
    int16_t profibusId;                 // Profibus-ID mode: 1 to 127
    char traceFileName[kTraceNameRoom]; // the port's traffic goes there; empty: nowhere
    // 0: the run loads scriptName into slot 1 and releases it at its end. 2
    // to 19: the caller has loaded the script into that slot of the store
    // and keeps it; several runs at once may read it.
    int16_t loadedScriptSlot;
};

// What a run found out, for a record of it: given to the face once, at the
// end of every run that got as far as reading its choices.
struct RunReport {
    RunOutcome outcome;
    int16_t port; // the module's port (on kAnyPort the one it was found on; else the chosen one)
    // A failure's step and where it stopped ("no acknowledgement after
    // script byte 223 within 700 ms"); empty on success.
    char detail[kDetailRoom];
    // The module's start-up output before its banner: the first 200
    // printable characters (blank to tilde) of it.
    char startup[kStartupTextRoom];
    // Profibus-ID and read-only jobs: the station address in the record the
    // module sent, -1 when none was read; and the record's text.
    int16_t oldProfibusId;
    char record[kConfigRecordRoom];
    // 1 once a module has shown itself: its banner came, or the device on
    // the port talked (a detection that failed on it). 0 for a run that
    // ended before (a port that did not open, a wait for the module cut
    // short): no module was touched.
    int16_t moduleStarted;
};

struct RunFace {
    void* context; // the first argument of every call below

    // The run begins: the face holds its inputs still (the dialog disables
    // them). endRun is the last call of every run.
    void (*beginRun)(void* context);
    void (*endRun)(void* context);
    // Fills in what was chosen.
    void (*readChoices)(void* context, RunChoices* choices);
    // The status line (the step under way) and the result line (the outcome).
    void (*showStatus)(void* context, const char* text);
    void (*showResult)(void* context, const char* text);
    // After every script byte sent: its index, and the script's size.
    void (*showProgress)(void* context, int32_t index, int32_t size);
    // Asks for the module to be switched off and on; returns when the run
    // may go on. Whatever the module sends meanwhile stays on the port for
    // the detection; port is kAnyPort when the run watches several. One of
    // the kPowerCycle answers below: any but kPowerCycleDone ends the run at
    // once with kNoKorvanModule (kRunInterrupted when the port was
    // interrupted meanwhile).
    int16_t (*requestPowerCycle)(void* context, int16_t port, const char* text);
    // A failure has been shown.
    void (*signalFailure)(void* context);
    // A run on kAnyPort has found the module on port; the job goes on there.
    void (*portFound)(void* context, int16_t port);
    // What the run found out; just before endRun.
    void (*showReport)(void* context, const RunReport* report);
};

// Runs the chosen job to its end on the face, and tells how it ended.
RunOutcome RunProgramming(const RunFace* face);

// Tells the system whether it must stay awake (SetThreadExecutionState).
// Process-wide so that a test can watch it.
typedef EXECUTION_STATE(WINAPI* ExecutionStateCall)(EXECUTION_STATE state);
extern ExecutionStateCall setExecutionState;
