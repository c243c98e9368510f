// A station port's thread and the face of its runs: the waits for the
// module (the OFF/ON request, the next module, a pause, an adapter that went
// away), the steps and the progress left in the station's state, and each
// module done for the main thread. Nothing here waits for whoever shows the
// station.
#include "station_port.h"

#include "module_log.h"
#include "serial_port.h"
#include "stop_signal.h"

namespace {

const char kNextModuleText[] = "next module: switch it ON";
const char kLastModulesText[] = "the other ports have the last modules";
const char kPausedModuleText[] = "paused; a module switched on meanwhile waits unprogrammed";
const char kUnprogrammedText[] = "a module may be waiting unprogrammed: switch it OFF and ON";
// The run's step while the banner is awaited; the steps after it are the
// job's.
const char kDetectionStep[] = "Wait for detection of Korvan";
// The silence on a port before a next module's start-up output counts.
const int32_t kNextModuleSilenceMs = 500;
// How long a wait sleeps between two looks at the stop.
const DWORD kStopLookMs = 50;

StationPort* PortOf(void* context) {
    return static_cast<StationPort*>(context);
}

const StationJob& JobOf(const StationPort* stationPort) {
    return *stationPort->station->job;
}

StationState& StateOf(StationPort* stationPort) {
    return *stationPort->station->state;
}

bool StationIsStopping() {
    return StopRequested();
}

// --count is reached once that many modules have started on all ports.
bool CountReached(const StationPort* stationPort) {
    const int32_t count = JobOf(stationPort).count;
    return count > 0 && stationPort->station->turnsTaken >= count;
}

// A module's start-up output has come: it takes one of --count's turns.
// False when the other ports have taken the last ones.
bool TakeTurn(StationPort* stationPort) {
    const int32_t count = JobOf(stationPort).count;
    if (count <= 0) {
        return true;
    }
    std::atomic<int32_t>& taken = stationPort->station->turnsTaken;
    for (int32_t now = taken; now < count;) {
        if (taken.compare_exchange_weak(now, now + 1)) {
            return true;
        }
    }
    return false;
}

void SetStatus(StationPort* stationPort, PortStatus status) {
    StateOf(stationPort).SetStatus(stationPort->index, status);
}

void ShowStep(StationPort* stationPort, const std::string& text) {
    StateOf(stationPort).SetStep(stationPort->index, text);
    StateOf(stationPort).PortLines(stationPort->index).Push(kStepLine, text);
}

// Something the port's technician must know ("next module: switch it ON",
// "adapter gone, waiting for it"): the port's step, and a line where there
// are no live lines or when it lasts.
void Notice(StationPort* stationPort, const std::string& text, bool lasting) {
    StateOf(stationPort).SetStep(stationPort->index, text);
    StateOf(stationPort)
        .PortLines(stationPort->index)
        .Push(lasting ? kLastingNoticeLine : kNoticeLine, text);
}

void NoteModuleOn(StationPort* stationPort) {
    stationPort->phase = kPhaseRunning;
    stationPort->moduleOnMs = GetTickCount64();
    stationPort->moduleOnUtc = UtcNowText();
    SetStatus(stationPort, kPortDetecting);
    stationPort->detecting = true;
}

void BeginRun(void* context) {
    StationPort* stationPort = PortOf(context);
    stationPort->result.clear();
    stationPort->waitCutShort = false;
    stationPort->deviceGone = false;
    stationPort->report = RunReport{};
    stationPort->moduleOnMs = GetTickCount64();
    stationPort->moduleOnUtc = UtcNowText();
}

void ReadChoices(void* context, RunChoices* choices) {
    StationPort* stationPort = PortOf(context);
    *choices = JobOf(stationPort).choices;
    choices->port = stationPort->port;
}

void ShowStatus(void* context, const char* text) {
    StationPort* stationPort = PortOf(context);
    const std::string step = text;
    if (step.empty() || step == " ") {
        return; // a blank clears the dialog's line: no step
    }
    // Past the detection, the job talks to the module.
    if (stationPort->detecting && step != kDetectionStep) {
        stationPort->detecting = false;
        SetStatus(stationPort, kPortProgramming);
    }
    ShowStep(stationPort, step);
}

void ShowResult(void* context, const char* text) {
    PortOf(context)->result = text;
}

// The download's progress: the state takes every byte, the display's lines
// every tenth of the way.
void ShowProgress(void* context, int32_t index, int32_t size) {
    StationPort* stationPort = PortOf(context);
    const int32_t sent = index + 1;
    if (size <= 0) {
        return;
    }
    StationState& state = StateOf(stationPort);
    if (stationPort->lastSize == 0) {
        stationPort->lastTenth = 0;
        if (!JobOf(stationPort).Single()) {
            state.SetStep(stationPort->index, "Update firmware");
        }
    }
    state.SetProgress(stationPort->index, sent, size);
    stationPort->lastSent = sent;
    stationPort->lastSize = size;
    const int tenth = static_cast<int>(static_cast<int64_t>(sent) * 10 / size);
    if (tenth > stationPort->lastTenth) {
        stationPort->lastTenth = tenth;
        state.PortLines(stationPort->index).Push(kTenthLine, "", sent, size);
    }
}

void EndDownload(StationPort* stationPort) {
    if (stationPort->lastSize == 0) {
        return;
    }
    StationState& state = StateOf(stationPort);
    state.PortLines(stationPort->index)
        .Push(kDownloadEndLine, "", stationPort->lastSent, stationPort->lastSize);
    state.SetProgress(stationPort->index, 0, 0);
    stationPort->lastSent = 0;
    stationPort->lastSize = 0;
}

// A wait for the module cut short by the stop. In a station nothing is
// recorded of it (no module was touched), but a port that had one module
// to do has not done it; a single run reports it as its outcome.
int16_t CutShort(StationPort* stationPort) {
    const StationJob& job = JobOf(stationPort);
    if (!job.Single()) {
        stationPort->waitCutShort = true;
        stationPort->stoppedBeforeModule = !job.repeat && StopRequested();
    }
    return kPowerCycleNoModule;
}

// The port's device went away while it waited for a module. With --repeat
// the port waits for it to come back, and records nothing; otherwise the
// run reports it.
int16_t DeviceWentAway(StationPort* stationPort) {
    if (JobOf(stationPort).repeat) {
        stationPort->deviceGone = true;
        stationPort->waitCutShort = true;
    }
    return kPowerCycleDeviceGone;
}

// The station is paused: the port takes no module until it is resumed.
// What a module switched on meanwhile sends is dropped, and nothing is sent
// to it; such a module sits in its fixture unprogrammed, so after the resume
// the port asks for it to be switched OFF and ON again. moduleCame: start-up
// output came as the pause began. False when the station stops meanwhile.
bool SitOutPause(StationPort* stationPort, int16_t port, bool moduleCame) {
    const PortStatus before = StateOf(stationPort).StatusOf(stationPort->index);
    SetStatus(stationPort, kPortPaused);
    Notice(stationPort, moduleCame ? kPausedModuleText : "paused", moduleCame);
    while (StateOf(stationPort).Paused()) {
        if (StationIsStopping()) {
            return false;
        }
        const int16_t input = moduleCame ? 0 : AwaitInput(port, 200);
        if (input == kDeviceGone) {
            Sleep(kStopLookMs); // the wait after the resume finds out
        } else if (input == 0) {
            if (!moduleCame) {
                moduleCame = true;
                Notice(stationPort, kPausedModuleText, true);
            }
            DiscardInput(port, 200);
        }
    }
    if (moduleCame) {
        // The rest of its start-up output is not a next module's.
        while (!StationIsStopping() && DiscardInput(port, kNextModuleSilenceMs) != 0) {
        }
        SetStatus(stationPort, kPortWaiting);
        Notice(stationPort, kUnprogrammedText, true);
    } else {
        SetStatus(stationPort, before);
        Notice(stationPort, kNextModuleText, false);
    }
    return true;
}

// Waits for a module's start-up output: without --repeat the first one
// within --wait-start, with --repeat as long as the station runs (an empty
// fixture is no failure). kPowerCycleDone once it has come and the module
// has its turn.
int16_t AwaitModuleOutput(StationPort* stationPort, int16_t port) {
    const StationJob& job = JobOf(stationPort);
    const ULONGLONG startMs = GetTickCount64();
    for (;;) {
        if (StationIsStopping()) {
            return CutShort(stationPort);
        }
        if (CountReached(stationPort)) {
            Notice(stationPort, kLastModulesText, true);
            stationPort->waitCutShort = true;
            return kPowerCycleNoModule;
        }
        if (StateOf(stationPort).Paused()) {
            if (!SitOutPause(stationPort, port, false)) {
                return CutShort(stationPort);
            }
            continue;
        }
        const int16_t input = AwaitInput(port, 200);
        // Output that came while a pause was being answered is held as the
        // pause holds it: once the pause is answered, no module is taken.
        if (input == 0 && StateOf(stationPort).Paused()) {
            if (!SitOutPause(stationPort, port, true)) {
                return CutShort(stationPort);
            }
            continue;
        }
        if (input == 0) {
            break;
        }
        if (input == kDeviceGone) {
            return DeviceWentAway(stationPort);
        }
        if (!job.repeat && GetTickCount64() - startMs >= static_cast<ULONGLONG>(job.waitStartMs)) {
            ShowStep(stationPort, "(no start-up output within " +
                                      std::to_string(job.waitStartMs / 1000) + " s)");
            return kPowerCycleNoModule;
        }
    }
    if (!TakeTurn(stationPort)) {
        // The module stays as it is: nothing is sent to it.
        Notice(stationPort, kLastModulesText, true);
        stationPort->waitCutShort = true;
        return kPowerCycleNoModule;
    }
    if (!job.Single()) {
        ShowStep(stationPort, "module switched on");
    }
    NoteModuleOn(stationPort);
    return kPowerCycleDone;
}

// The first run of every port waits for the one OFF/ON request to be
// answered (Enter on a console). A later run (--repeat) waits for the next
// module, after a device that talked without the banner first for a silent
// line. Then the run waits for its module's start-up output; only a single
// module per port, switched on as a console's Enter says, or on any port,
// goes on to the detection's own time at once.
int16_t RequestPowerCycle(void* context, int16_t port, const char*) {
    StationPort* stationPort = PortOf(context);
    const StationJob& job = JobOf(stationPort);
    stationPort->everOpened = true;
    if (stationPort->firstRun) {
        stationPort->firstRun = false;
        if (!job.Single()) {
            ShowStep(stationPort, "switch the module OFF and ON");
        }
        stationPort->phase = kPhaseAwaitingPower;
        while (!stationPort->station->powerCycleGiven) {
            if (StationIsStopping()) {
                return CutShort(stationPort);
            }
            Sleep(20);
        }
        if (!job.repeat && (job.inputIsConsole || port == kAnyPort)) {
            if (!TakeTurn(stationPort)) {
                return CutShort(stationPort);
            }
            NoteModuleOn(stationPort);
            return kPowerCycleDone;
        }
    } else {
        stationPort->phase = kPhaseAwaitingModule;
        // After a device that talked without ever sending the banner, the
        // next module is one that starts up on a silent line: the device is
        // not taken for a next module again and again. The technician is
        // asked for the module once the line is silent.
        while (stationPort->previousOutcome == kNoKorvanModule && !StationIsStopping() &&
               DiscardInput(port, kNextModuleSilenceMs) != 0) {
        }
        Notice(stationPort, kNextModuleText, false);
    }
    return AwaitModuleOutput(stationPort, port);
}

void SignalFailure(void*) {}

// The status line has said on which port: "Korvan found on COMn".
void PortFound(void*, int16_t) {}

void ShowReport(void* context, const RunReport* report) {
    PortOf(context)->report = *report;
}

// The run's end: its module goes to the main thread, unless no module was
// touched (a wait cut short, a port whose adapter had gone before it could
// be opened again).
void EndRun(void* context) {
    StationPort* stationPort = PortOf(context);
    const StationJob& job = JobOf(stationPort);
    EndDownload(stationPort);
    stationPort->detecting = false;
    const RunReport& report = stationPort->report;
    if (report.outcome == kPortNotOpened && stationPort->everOpened && job.repeat) {
        stationPort->deviceGone = true; // it was there before: its adapter has been pulled out
        stationPort->waitCutShort = true;
    }
    if (stationPort->waitCutShort) {
        return;
    }
    const bool succeeded = report.outcome == kRunSucceeded;
    SetStatus(stationPort, succeeded ? kPortPassed : kPortFailed);
    ModuleDone module;
    module.index = stationPort->index;
    module.report = report;
    module.result = stationPort->result;
    module.startUtc = stationPort->moduleOnUtc;
    module.endMs = GetTickCount64();
    module.seconds = (module.endMs - stationPort->moduleOnMs) / 1000.0;
    if (!job.Single()) {
        StateOf(stationPort)
            .SetStep(stationPort->index, OutcomeText(job, report, stationPort->result));
    }
    {
        std::lock_guard<std::mutex> hold(stationPort->station->doneLock);
        stationPort->station->doneQueue.push_back(module);
    }
    SetEvent(stationPort->station->moduleDone);
}

// Waits for the port's adapter to come back: the port is tried every
// kAdapterRetryMs. True once it opens again; false when the station stops
// or has all its modules meanwhile.
bool AwaitAdapter(StationPort* stationPort) {
    stationPort->phase = kPhaseAwaitingModule;
    SetStatus(stationPort, kPortAdapterGone);
    Notice(stationPort, "adapter gone, waiting for it", true);
    for (;;) {
        for (DWORD waited = 0; waited < kAdapterRetryMs; waited += kStopLookMs) {
            if (StationIsStopping() || CountReached(stationPort)) {
                return false;
            }
            Sleep(kStopLookMs);
        }
        PortConfig config = ModuleLineConfig(stationPort->port, nullptr);
        const int16_t opened = OpenPort(&config);
        if (opened != kPortInUse) {
            ClosePort(stationPort->port); // the next run opens it again
        }
        if (opened == 0) {
            SetStatus(stationPort, kPortWaiting);
            Notice(stationPort, "adapter back", true);
            return true;
        }
    }
}

} // namespace

RunFace MakePortFace(StationPort* stationPort) {
    return {stationPort,  BeginRun,          EndRun,        ReadChoices, ShowStatus, ShowResult,
            ShowProgress, RequestPowerCycle, SignalFailure, PortFound,   ShowReport};
}

DWORD WINAPI PortThread(LPVOID argument) {
    StationPort* stationPort = static_cast<StationPort*>(argument);
    const StationJob& job = JobOf(stationPort);
    const RunFace face = MakePortFace(stationPort);
    for (;;) {
        if (StationIsStopping()) {
            stationPort->stoppedBeforeModule =
                !job.repeat && stationPort->firstRun && StopRequested();
            break;
        }
        if (CountReached(stationPort)) {
            break;
        }
        const RunOutcome outcome = RunProgramming(&face);
        if (!stationPort->waitCutShort) {
            stationPort->previousOutcome = outcome; // a wait cut short had no module
        }
        // A port that could not be opened at all leaves the station: trying
        // it again at once would only fill the log.
        if (!stationPort->everOpened || !job.repeat) {
            break;
        }
        if (stationPort->deviceGone && !AwaitAdapter(stationPort)) {
            break;
        }
    }
    SetStatus(stationPort, kPortEnded);
    stationPort->phase = kPhaseEnded;
    return 0;
}

OnePortStation::OnePortStation(const StationJob& job)
    : job_(job), state_(job.ports.empty() ? std::vector<int16_t>{0} : job.ports, StationJobInfo{}) {
    station_.job = &job_;
    station_.state = &state_;
    station_.powerCycleGiven = true;
    port_.station = &station_;
    port_.port = job_.ports.empty() ? 0 : job_.ports[0];
}
