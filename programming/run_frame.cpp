// The frame that both jobs share: the script file, the port, the OFF/ON
// request, the detection of the module's start-up banner, the outcome, and
// the clean-up after every run.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "banner_scan.h"
#include "run_context.h"
#include "script_store.h"
#include "serial_port.h"
#include "startup_text.h"

ExecutionStateCall setExecutionState = SetThreadExecutionState;
int32_t detectionLimitMs = kDetectionLimitMs;

// Longest silence allowed before each byte up to the end of the banner.
enum : int32_t { kBannerByteTimeoutMs = 10000 };

const char* FailureText(RunOutcome outcome) {
    switch (outcome) {
    case kRunSucceeded:
        return nullptr;
    case kScriptNotLoaded:
        return "The Script file could not be loaded";
    case kPortNotOpened:
        return "Error on opening the COM-Port";
    case kNoKorvanModule:
        return "Connected instrument is no Korvan module";
    case kNoAnswer:
        return "Korvan does not answer";
    case kNotProgrammed:
        return "Korvan could not be programmed";
    case kConfigNotRead:
        return "Configuration of Korvan module cannot be read";
    case kConfigNotAccepted:
        return "Error in received configuration of Korvan module";
    case kRunInterrupted:
        return "The run was interrupted";
    }
    return nullptr;
}

void ShowStatus(RunContext* run, const char* text) {
    run->face->showStatus(run->face->context, text);
}

void ShowResult(RunContext* run, const char* text) {
    run->face->showResult(run->face->context, text);
}

void NoteDetail(RunContext* run, const char* format, ...) {
    if (run->report.detail[0] != 0) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(run->report.detail, sizeof run->report.detail, format, arguments);
    va_end(arguments);
}

void ByteText(uint8_t byte, char* text) {
    if (byte >= 0x20 && byte <= 0x7E) {
        snprintf(text, 7, "'%c'", byte);
    } else {
        snprintf(text, 7, "0x%02X", byte);
    }
}

static_assert(kStartupTextRoom == kStartupTextLimit + 1, "a report holds the start-up text kept");

// What is left of the detection's overall time, at least 1 ms; 0 when it is
// over.
static int32_t RemainingMs(ULONGLONG startMs) {
    const ULONGLONG elapsed = GetTickCount64() - startMs;
    if (elapsed >= static_cast<ULONGLONG>(detectionLimitMs)) {
        return 0;
    }
    return static_cast<int32_t>(detectionLimitMs - elapsed);
}

// Why the detection gave up, for the run's report.
static void NoteDetectionFailure(RunContext* run, const BannerScan* scan, bool timeUp) {
    if (scan->received == 0) {
        NoteDetail(
            run, "no start-up output within %ld s",
            static_cast<long>(timeUp ? detectionLimitMs / 1000 : kBannerByteTimeoutMs / 1000));
    } else if (scan->received >= kDetectionByteLimit) {
        NoteDetail(run, "no banner in the first %ld bytes of start-up output",
                   static_cast<long>(kDetectionByteLimit));
    } else if (timeUp) {
        NoteDetail(run, "no banner within %ld s (%lu bytes of start-up output)",
                   static_cast<long>(detectionLimitMs / 1000),
                   static_cast<unsigned long>(scan->received));
    } else {
        NoteDetail(run, "start-up output stopped for %ld s after %lu bytes, without banner",
                   static_cast<long>(kBannerByteTimeoutMs / 1000),
                   static_cast<unsigned long>(scan->received));
    }
}

int16_t DetectModule(RunContext* run) {
    const ULONGLONG startMs = GetTickCount64();
    BannerScan scan;
    StartBannerScan(&scan);
    StartupText startup;
    StartStartupText(&startup);
    uint8_t* byte = run->runBuffer;
    bool waiting = true;
    for (;;) {
        // A device that talks on without ever sending the banner (a GPS, a
        // PLC, another module's console) is given up after a run buffer full
        // of bytes, or once the detection's overall time has run out.
        const int32_t remainingMs = RemainingMs(startMs);
        if (waiting && (scan.received >= kDetectionByteLimit || remainingMs == 0)) {
            KeepStartupText(&startup, false, run->report.startup);
            NoteDetectionFailure(run, &scan, remainingMs == 0);
            return 1;
        }
        // After the banner one more byte is taken if it is already there.
        int32_t timeoutMs = 0;
        if (waiting) {
            timeoutMs = remainingMs < kBannerByteTimeoutMs ? remainingMs : kBannerByteTimeoutMs;
        }
        if (ReadPort(run->choices.port, 1, 0, timeoutMs, byte, kRunBufferSize) != 0) {
            if (waiting) {
                KeepStartupText(&startup, false, run->report.startup);
                NoteDetectionFailure(run, &scan, RemainingMs(startMs) == 0);
                return 1;
            }
            return 0;
        }
        if (!waiting) {
            return 0;
        }
        AddBannerByte(&scan, byte[0]);
        AddStartupByte(&startup, byte[0]);
        run->report.moduleStarted = 1; // whatever it is, a device on the port talks
        if (BannerSeen(&scan)) {
            KeepStartupText(&startup, true, run->report.startup);
            waiting = false;
        }
    }
}

// From the opening of the port to the detection of the module. Bytes that
// arrive while the OFF/ON request stands count for the detection.
// *portOwned tells whether the run has the port to close: not when this
// process holds it open already.
static RunOutcome ReachModule(RunContext* run, bool* portOwned) {
    const int16_t port = run->choices.port;
    PortConfig config = ModuleLineConfig(port, nullptr); // direct mode
    const int16_t opened = OpenPort(&config);
    *portOwned = opened != kPortInUse;
    if (opened != 0) {
        if (opened == kPortInUse) {
            NoteDetail(run, "COM%d is open in this program already", port);
        }
        return kPortNotOpened;
    }
    if (run->choices.traceFileName[0] != 0) {
        OpenTrace(port, run->choices.traceFileName);
    }
    DiscardInput(port, 100);
    const int16_t answer = run->face->requestPowerCycle(
        run->face->context, port, "Please switch the Korvan module OFF and then ON");
    if (answer == kPowerCycleDeviceGone) {
        NoteDetail(run, "the device of COM%d went away while waiting for the module", port);
        return kNoKorvanModule;
    }
    if (answer != kPowerCycleDone) {
        NoteDetail(run, "no start-up output while waiting for the module to be switched on");
        return kNoKorvanModule;
    }
    ShowStatus(run, "Wait for detection of Korvan");
    return DetectModule(run) != 0 ? kNoKorvanModule : kRunSucceeded;
}

static RunOutcome TalkToModule(RunContext* run, bool* portOwned) {
    const RunOutcome reached = run->choices.port == kAnyPort ? FindModuleOnAnyPort(run, portOwned)
                                                             : ReachModule(run, portOwned);
    if (reached != kRunSucceeded) {
        return reached;
    }
    DiscardInput(run->choices.port, 200);
    return run->choices.mode == kFirmwareMode ? ProgramFirmware(run) : SetProfibusId(run);
}

// Loads the firmware job's script, unless the caller keeps it loaded.
static RunOutcome TakeScript(RunContext* run) {
    if (run->choices.mode != kFirmwareMode) {
        return kRunSucceeded;
    }
    const int16_t kept = run->choices.loadedScriptSlot;
    if (kept > kRunScriptSlot && kept < kScriptSlots) {
        run->scriptSlot = kept;
        if (ScriptStore[kept].loaded == 0) {
            NoteDetail(run, "script slot %d holds no script", kept);
            return kScriptNotLoaded;
        }
        return kRunSucceeded;
    }
    run->scriptSlot = kRunScriptSlot;
    if (LoadScript(kRunScriptSlot, run->choices.scriptName) != 0) {
        NoteDetail(run, "the file cannot be opened or read");
        return kScriptNotLoaded;
    }
    return kRunSucceeded;
}

// Fills in the report's port and outcome. A failure on a port that was
// interrupted meanwhile is the interruption's, whatever step noticed it.
static void EndReport(RunContext* run, RunOutcome* outcome) {
    const int16_t port = run->choices.port;
    const bool interrupted =
        port == kAnyPort ? AnyPortInterrupted(&run->choices) : PortInterrupted(port);
    if (*outcome != kRunSucceeded && interrupted) {
        *outcome = kRunInterrupted;
        run->report.detail[0] = 0;
        NoteDetail(run, "cut short by the operator");
    }
    run->report.outcome = *outcome;
    run->report.port = port;
}

RunOutcome RunProgramming(const RunFace* face) {
    // A laptop that went to sleep mid-download would leave the module
    // without firmware: the system stays awake until the run is over.
    setExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    RunContext run;
    ZeroMemory(&run, sizeof run);
    run.face = face;
    run.scriptSlot = kRunScriptSlot;
    run.report.oldProfibusId = -1;
    face->beginRun(face->context);
    ShowStatus(&run, " ");
    ShowResult(&run, " ");
    face->readChoices(face->context, &run.choices);

    RunOutcome outcome = TakeScript(&run);
    bool portOwned = false;
    if (outcome == kRunSucceeded) {
        outcome = TalkToModule(&run, &portOwned);
    }
    FinishPortWatch();
    EndReport(&run, &outcome);
    // The status line keeps the step that failed; the result line says why.
    if (outcome != kRunSucceeded) {
        ShowResult(&run, FailureText(outcome));
        face->signalFailure(face->context);
    }
    if (portOwned) {
        ClosePort(run.choices.port); // also after a failed opening: releases what it left
    }
    if (run.scriptSlot == kRunScriptSlot) {
        ReleaseScript(kRunScriptSlot);
    }
    face->showReport(face->context, &run.report);
    face->endRun(face->context);
    setExecutionState(ES_CONTINUOUS);
    return outcome;
}
