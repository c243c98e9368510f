// The frame that both jobs share: the script file, the port, the OFF/ON
// request, the detection of the module's start-up banner, the outcome, and
// the clean-up after every run.
#include <windows.h>

#include "banner_scan.h"
#include "run_context.h"
#include "script_store.h"
#include "serial_port.h"

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
    }
    return nullptr;
}

void ShowStatus(RunContext* run, const char* text) {
    run->face->showStatus(run->face->context, text);
}

void ShowResult(RunContext* run, const char* text) {
    run->face->showResult(run->face->context, text);
}

// What is left of the detection's overall time, at least 1 ms; 0 when it is
// over.
static int32_t RemainingMs(ULONGLONG startMs) {
    const ULONGLONG elapsed = GetTickCount64() - startMs;
    if (elapsed >= static_cast<ULONGLONG>(detectionLimitMs)) {
        return 0;
    }
    return static_cast<int32_t>(detectionLimitMs - elapsed);
}

int16_t DetectModule(RunContext* run) {
    const ULONGLONG startMs = GetTickCount64();
    BannerScan scan;
    StartBannerScan(&scan);
    uint8_t* byte = run->runBuffer;
    bool waiting = true;
    for (;;) {
        // A device that talks on without ever sending the banner (a GPS, a
        // PLC, another module's console) is given up after a run buffer full
        // of bytes, or once the detection's overall time has run out.
        const int32_t remainingMs = RemainingMs(startMs);
        if (waiting && (scan.received >= kDetectionByteLimit || remainingMs == 0)) {
            return 1;
        }
        // After the banner one more byte is taken if it is already there.
        int32_t timeoutMs = 0;
        if (waiting) {
            timeoutMs = remainingMs < kBannerByteTimeoutMs ? remainingMs : kBannerByteTimeoutMs;
        }
        if (ReadPort(run->choices.port, 1, 0, timeoutMs, byte, kRunBufferSize) != 0) {
            return waiting ? 1 : 0;
        }
        if (!waiting) {
            return 0;
        }
        AddBannerByte(&scan, byte[0]);
        if (BannerSeen(&scan)) {
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
        return kPortNotOpened;
    }
    if (run->choices.traceFileName[0] != 0) {
        OpenTrace(port, run->choices.traceFileName);
    }
    DiscardInput(port, 100);
    if (run->face->requestPowerCycle(run->face->context, port,
                                     "Please switch the Korvan module OFF and then ON") != 0) {
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

RunOutcome RunProgramming(const RunFace* face) {
    // A laptop that went to sleep mid-download would leave the module
    // without firmware: the system stays awake until the run is over.
    setExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    RunContext run;
    run.face = face;
    ZeroMemory(&run.choices, sizeof run.choices);
    face->beginRun(face->context);
    ShowStatus(&run, " ");
    ShowResult(&run, " ");
    face->readChoices(face->context, &run.choices);

    RunOutcome outcome = kRunSucceeded;
    if (run.choices.mode == kFirmwareMode &&
        LoadScript(kRunScriptSlot, run.choices.scriptName) != 0) {
        outcome = kScriptNotLoaded;
    }
    bool portOwned = false;
    if (outcome == kRunSucceeded) {
        outcome = TalkToModule(&run, &portOwned);
    }
    // The status line keeps the step that failed; the result line says why.
    if (outcome != kRunSucceeded) {
        ShowResult(&run, FailureText(outcome));
        face->signalFailure(face->context);
    }
    if (portOwned) {
        ClosePort(run.choices.port); // also after a failed opening: releases what it left
    }
    ReleaseScript(kRunScriptSlot);
    face->endRun(face->context);
    setExecutionState(ES_CONTINUOUS);
    return outcome;
}
