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

const StationJob& JobOf(const StationPort* p) {
    return *p->station->job;
}

bool StationStopping(const StationPort* p) {
    return StopRequested() || p->station->noMoreModules;
}

// --count is reached once that many modules have started on all ports.
bool CountReached(const StationPort* p) {
    const int32_t count = JobOf(p).count;
    return count > 0 && p->station->modulesStarted >= count;
}

void ShowStep(StationPort* p, const std::string& text) {
    p->station->display->Step(p->index, text);
}

void NoteModuleOn(StationPort* p) {
    p->phase = kPhaseRunning;
    p->moduleOnMs = GetTickCount64();
    p->moduleOnUtc = UtcNowText();
}

void BeginRun(void* context) {
    StationPort* p = PortOf(context);
    p->result.clear();
    p->waitCutShort = false;
    p->deviceGone = false;
    p->report = RunReport{};
    NoteModuleOn(p);
}

void ReadChoices(void* context, RunChoices* choices) {
    StationPort* p = PortOf(context);
    *choices = JobOf(p).choices;
    choices->port = p->port;
}

void ShowStatus(void* context, const char* text) {
    ShowStep(PortOf(context), text);
}

void ShowResult(void* context, const char* text) {
    PortOf(context)->result = text;
}

void ShowProgress(void* context, int32_t index, int32_t size) {
    StationPort* p = PortOf(context);
    p->station->display->Progress(p->index, index + 1, size);
}

// A wait for the module cut short by the stop. In a station nothing is
// recorded of it (no module was touched), but a port that had one module
// to do has not done it; a single run reports it as its outcome.
int16_t CutShort(StationPort* p) {
    const StationJob& job = JobOf(p);
    if (!job.Single()) {
        p->waitCutShort = true;
        p->stoppedBeforeModule = !job.repeat && StopRequested();
    }
    return kPowerCycleNoModule;
}

// The port's device went away while it waited for a module. With --repeat
// the port waits for it to come back, and records nothing; otherwise the
// run reports it.
int16_t DeviceWentAway(StationPort* p) {
    if (JobOf(p).repeat) {
        p->deviceGone = true;
        p->waitCutShort = true;
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
    StationPort* p = PortOf(context);
    const StationJob& job = JobOf(p);
    const bool single = job.Single();
    p->everOpened = true;
    bool bounded = false;
    if (p->firstRun) {
        p->firstRun = false;
        if (!single) {
            ShowStep(p, "switch the module OFF and ON");
        }
        p->phase = kPhaseAwaitingPower;
        while (!p->station->powerCycleGiven) {
            if (StationStopping(p)) {
                return CutShort(p);
            }
            Sleep(20);
        }
        if (job.inputIsConsole || port == kAnyPort) {
            NoteModuleOn(p);
            return kPowerCycleDone;
        }
        bounded = true;
    } else {
        p->phase = kPhaseAwaitingModule;
        // After a device that talked without ever sending the banner, the
        // next module is one that starts up on a silent line: the device is
        // not taken for a next module again and again. The technician is
        // asked for the module once the line is silent.
        while (p->previousOutcome == kNoKorvanModule && !StationStopping(p) &&
               DiscardInput(port, kNextModuleSilenceMs) != 0) {
        }
        p->station->display->Notice(p->index, kNextModuleText, false);
    }
    const ULONGLONG startMs = GetTickCount64();
    for (;;) {
        if (StationStopping(p)) {
            return CutShort(p);
        }
        const int16_t input = AwaitInput(port, 200);
        if (input == 0) {
            break;
        }
        if (input == kDeviceGone) {
            return DeviceWentAway(p);
        }
        if (bounded && GetTickCount64() - startMs >= static_cast<ULONGLONG>(job.waitStartMs)) {
            ShowStep(p, "(no start-up output within " + std::to_string(job.waitStartMs / 1000) +
                            " s)");
            return kPowerCycleNoModule;
        }
    }
    if (!single) {
        ShowStep(p, "module switched on");
    }
    NoteModuleOn(p);
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
    StationPort* p = PortOf(context);
    StationDisplay* display = p->station->display;
    display->EndProgress(p->index);
    const bool notOpened = p->report.outcome == kPortNotOpened;
    if (notOpened && p->everOpened && JobOf(p).repeat) {
        p->deviceGone = true; // it was there before: its adapter has been pulled out
        p->waitCutShort = true;
    }
    if (p->waitCutShort) {
        return;
    }
    ModuleDone done;
    done.index = p->index;
    done.report = p->report;
    done.result = p->result;
    done.startUtc = p->moduleOnUtc;
    done.endMs = GetTickCount64();
    done.seconds = (done.endMs - p->moduleOnMs) / 1000.0;
    if (!JobOf(p).Single()) {
        ShowStep(p, OutcomeText(JobOf(p), p->report, p->result));
    }
    std::lock_guard<std::mutex> hold(p->station->doneLock);
    p->station->doneQueue.push_back(done);
}

// --count: a port takes a turn before it waits for a module and gives it
// back when no module started; a port without a turn waits for one, until
// the count is reached or the station stops. False when it is to end.
bool TakeTurn(StationPort* p) {
    const int32_t count = JobOf(p).count;
    if (count <= 0) {
        return true;
    }
    Station* station = p->station;
    bool told = false;
    for (;;) {
        if (StationStopping(p) || CountReached(p)) {
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
            p->phase = kPhaseAwaitingModule;
            ShowStep(p, "the other ports have the last modules");
        }
        Sleep(kStopLookMs);
    }
}

void EndTurn(StationPort* p) {
    if (p->report.moduleStarted != 0) {
        ++p->station->modulesStarted;
    } else if (JobOf(p).count > 0) {
        --p->station->turnsTaken;
    }
}

// Waits for the port's adapter to come back: the port is tried every
// kAdapterRetryMs. True once it opens again; false when the station stops
// or has all its modules meanwhile.
bool AwaitAdapter(StationPort* p) {
    p->phase = kPhaseAwaitingModule;
    p->station->display->Notice(p->index, "adapter gone, waiting for it", true);
    for (;;) {
        for (DWORD waited = 0; waited < kAdapterRetryMs; waited += kStopLookMs) {
            if (StationStopping(p) || CountReached(p)) {
                return false;
            }
            Sleep(kStopLookMs);
        }
        PortConfig config = ModuleLineConfig(p->port, nullptr);
        const int16_t opened = OpenPort(&config);
        if (opened != kPortInUse) {
            ClosePort(p->port); // the next run opens it again
        }
        if (opened == 0) {
            p->station->display->Notice(p->index, "adapter back", true);
            return true;
        }
    }
}

} // namespace

RunFace MakePortFace(StationPort* p) {
    return {p,
            BeginRun,
            EndRun,
            ReadChoices,
            ShowStatus,
            ShowResult,
            ShowProgress,
            RequestPowerCycle,
            SignalFailure,
            PortFound,
            ShowReport};
}

DWORD WINAPI PortThread(LPVOID argument) {
    StationPort* p = static_cast<StationPort*>(argument);
    const StationJob& job = JobOf(p);
    const RunFace face = MakePortFace(p);
    for (;;) {
        if (StationStopping(p)) {
            p->stoppedBeforeModule = !job.repeat && p->firstRun && StopRequested();
            break;
        }
        if (!TakeTurn(p)) {
            break;
        }
        const RunOutcome outcome = RunProgramming(&face);
        if (!p->waitCutShort) {
            p->previousOutcome = outcome; // a wait cut short had no module
        }
        EndTurn(p);
        // A port that could not be opened at all leaves the station: trying
        // it again at once would only fill the log.
        if (!p->everOpened || !job.repeat) {
            break;
        }
        if (p->deviceGone && !AwaitAdapter(p)) {
            break;
        }
    }
    p->phase = kPhaseEnded;
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
