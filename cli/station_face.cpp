// A station port's thread and the face of its runs: the waits for the
// module (the OFF/ON request, the next module, an adapter that went away),
// the steps and the progress for the display, and each module done for the
// main thread.
#include "station_port.h"

#include "module_log.h"
#include "serial_port.h"
#include "stop_signal.h"

namespace {

const char kNextModuleText[] = "next module: switch it ON";
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

bool StationIsStopping(const StationPort* stationPort) {
    return StopRequested() || stationPort->station->noMoreModules;
}

// --count is reached once that many modules have started on all ports.
bool CountReached(const StationPort* stationPort) {
    const int32_t count = JobOf(stationPort).count;
    return count > 0 && stationPort->station->modulesStarted >= count;
}

void ShowStep(StationPort* stationPort, const std::string& text) {
    stationPort->station->display->Step(stationPort->index, text);
}

void NoteModuleOn(StationPort* stationPort) {
    stationPort->phase = kPhaseRunning;
    stationPort->moduleOnMs = GetTickCount64();
    stationPort->moduleOnUtc = UtcNowText();
}

void BeginRun(void* context) {
    StationPort* stationPort = PortOf(context);
    stationPort->result.clear();
    stationPort->waitCutShort = false;
    stationPort->deviceGone = false;
    stationPort->report = RunReport{};
    NoteModuleOn(stationPort);
}

void ReadChoices(void* context, RunChoices* choices) {
    StationPort* stationPort = PortOf(context);
    *choices = JobOf(stationPort).choices;
    choices->port = stationPort->port;
}

void ShowStatus(void* context, const char* text) {
    ShowStep(PortOf(context), text);
}

void ShowResult(void* context, const char* text) {
    PortOf(context)->result = text;
}

void ShowProgress(void* context, int32_t index, int32_t size) {
    StationPort* stationPort = PortOf(context);
    stationPort->station->display->Progress(stationPort->index, index + 1, size);
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

// The first run of every port waits for the one OFF/ON request to be
// answered (Enter on a console). A later run (--repeat) waits for the
// next module, after a device that talked without the banner first for a
// silent line. Then, without a console, the run waits for its module's
// start-up output: the first one within --wait-start, a later one as long
// as the station runs. A run on any port gives its ports the detection's
// own time instead.
int16_t RequestPowerCycle(void* context, int16_t port, const char*) {
    StationPort* stationPort = PortOf(context);
    const StationJob& job = JobOf(stationPort);
    const bool single = job.Single();
    stationPort->everOpened = true;
    bool bounded = false;
    if (stationPort->firstRun) {
        stationPort->firstRun = false;
        if (!single) {
            ShowStep(stationPort, "switch the module OFF and ON");
        }
        stationPort->phase = kPhaseAwaitingPower;
        while (!stationPort->station->powerCycleGiven) {
            if (StationIsStopping(stationPort)) {
                return CutShort(stationPort);
            }
            Sleep(20);
        }
        if (job.inputIsConsole || port == kAnyPort) {
            NoteModuleOn(stationPort);
            return kPowerCycleDone;
        }
        bounded = true;
    } else {
        stationPort->phase = kPhaseAwaitingModule;
        // After a device that talked without ever sending the banner, the
        // next module is one that starts up on a silent line: the device is
        // not taken for a next module again and again. The technician is
        // asked for the module once the line is silent.
        while (stationPort->previousOutcome == kNoKorvanModule && !StationIsStopping(stationPort) &&
               DiscardInput(port, kNextModuleSilenceMs) != 0) {
        }
        stationPort->station->display->Notice(stationPort->index, kNextModuleText, false);
    }
    const ULONGLONG startMs = GetTickCount64();
    for (;;) {
        if (StationIsStopping(stationPort)) {
            return CutShort(stationPort);
        }
        const int16_t input = AwaitInput(port, 200);
        if (input == 0) {
            break;
        }
        if (input == kDeviceGone) {
            return DeviceWentAway(stationPort);
        }
        if (bounded && GetTickCount64() - startMs >= static_cast<ULONGLONG>(job.waitStartMs)) {
            ShowStep(stationPort, "(no start-up output within " +
                                      std::to_string(job.waitStartMs / 1000) + " s)");
            return kPowerCycleNoModule;
        }
    }
    if (!single) {
        ShowStep(stationPort, "module switched on");
    }
    NoteModuleOn(stationPort);
    return kPowerCycleDone;
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
    StationDisplay* display = stationPort->station->display;
    display->EndProgress(stationPort->index);
    const bool notOpened = stationPort->report.outcome == kPortNotOpened;
    if (notOpened && stationPort->everOpened && JobOf(stationPort).repeat) {
        stationPort->deviceGone = true; // it was there before: its adapter has been pulled out
        stationPort->waitCutShort = true;
    }
    if (stationPort->waitCutShort) {
        return;
    }
    ModuleDone module;
    module.index = stationPort->index;
    module.report = stationPort->report;
    module.result = stationPort->result;
    module.startUtc = stationPort->moduleOnUtc;
    module.endMs = GetTickCount64();
    module.seconds = (module.endMs - stationPort->moduleOnMs) / 1000.0;
    if (!JobOf(stationPort).Single()) {
        ShowStep(stationPort,
                 OutcomeText(JobOf(stationPort), stationPort->report, stationPort->result));
    }
    std::lock_guard<std::mutex> hold(stationPort->station->doneLock);
    stationPort->station->doneQueue.push_back(module);
}

// --count: a port takes a turn before it waits for a module and gives it
// back when no module started; a port without a turn waits for one, until
// the count is reached or the station stops. False when it is to end.
bool TakeTurn(StationPort* stationPort) {
    const int32_t count = JobOf(stationPort).count;
    if (count <= 0) {
        return true;
    }
    Station* station = stationPort->station;
    bool told = false;
    for (;;) {
        if (StationIsStopping(stationPort) || CountReached(stationPort)) {
            return false;
        }
        int32_t taken = station->turnsTaken;
        if (taken < count) {
            if (station->turnsTaken.compare_exchange_strong(taken, taken + 1)) {
                return true;
            }
            continue;
        }
        if (!told) {
            told = true;
            stationPort->phase = kPhaseAwaitingModule;
            ShowStep(stationPort, "the other ports have the last modules");
        }
        Sleep(kStopLookMs);
    }
}

void EndTurn(StationPort* stationPort) {
    if (stationPort->report.moduleStarted != 0) {
        ++stationPort->station->modulesStarted;
    } else if (JobOf(stationPort).count > 0) {
        --stationPort->station->turnsTaken;
    }
}

// Waits for the port's adapter to come back: the port is tried every
// kAdapterRetryMs. True once it opens again; false when the station stops
// or has all its modules meanwhile.
bool AwaitAdapter(StationPort* stationPort) {
    stationPort->phase = kPhaseAwaitingModule;
    stationPort->station->display->Notice(stationPort->index, "adapter gone, waiting for it", true);
    for (;;) {
        for (DWORD waited = 0; waited < kAdapterRetryMs; waited += kStopLookMs) {
            if (StationIsStopping(stationPort) || CountReached(stationPort)) {
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
            stationPort->station->display->Notice(stationPort->index, "adapter back", true);
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
        if (StationIsStopping(stationPort)) {
            stationPort->stoppedBeforeModule =
                !job.repeat && stationPort->firstRun && StopRequested();
            break;
        }
        if (!TakeTurn(stationPort)) {
            break;
        }
        const RunOutcome outcome = RunProgramming(&face);
        if (!stationPort->waitCutShort) {
            stationPort->previousOutcome = outcome; // a wait cut short had no module
        }
        EndTurn(stationPort);
        // A port that could not be opened at all leaves the station: trying
        // it again at once would only fill the log.
        if (!stationPort->everOpened || !job.repeat) {
            break;
        }
        if (stationPort->deviceGone && !AwaitAdapter(stationPort)) {
            break;
        }
    }
    stationPort->phase = kPhaseEnded;
    return 0;
}

OnePortStation::OnePortStation(const StationJob& job)
    : job_(job), display_(kSingleRunLines, job.ports, job.errors, false, nullptr) {
    station_.job = &job_;
    station_.display = &display_;
    station_.powerCycleGiven = true;
    port_.station = &station_;
    port_.port = job_.ports.empty() ? 0 : job_.ports[0];
}
