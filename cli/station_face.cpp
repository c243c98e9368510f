#include "station_port.h"

#include <cstdio>

#include "module_log.h"
#include "serial_port.h"

namespace {

const char kNextModuleText[] = "next module: switch it ON";
// The silence on a port before a next module's start-up output counts.
const int32_t kNextModuleSilenceMs = 500;

StationPort* PortOf(void* context) {
    return static_cast<StationPort*>(context);
}

void SetStep(StationPort* p, const std::string& text) {
    std::lock_guard<std::mutex> hold(p->viewLock);
    p->step = text;
}

bool StopWaiting(StationPort* p) {
    return StationInterrupted() || p->station->noMoreModules;
}

void BeginRun(void* context) {
    StationPort* p = PortOf(context);
    p->result.clear();
    p->abandoned = false;
    p->report = RunReport{};
    p->size = 0;
    p->sent = 0;
    p->lastTenth = 0;
    p->runStartMs = GetTickCount64();
    p->startUtc = UtcNowText();
}

void ReadChoices(void* context, RunChoices* choices) {
    StationPort* p = PortOf(context);
    const StationJob* job = p->station->job;
    choices->mode = job->mode;
    choices->port = p->port;
    choices->profibusId = job->profibusId;
    choices->loadedScriptSlot = job->scriptSlot;
}

void ShowStatus(void* context, const char* text) {
    if (text[0] != 0 && !(text[0] == ' ' && text[1] == 0)) {
        SetStep(PortOf(context), text);
    }
}

void ShowResult(void* context, const char* text) {
    PortOf(context)->result = text;
}

void ShowProgress(void* context, int32_t index, int32_t size) {
    StationPort* p = PortOf(context);
    const int32_t sent = index + 1;
    if (index == 0) {
        p->downloadStartMs = GetTickCount64();
        p->lastTenth = 0;
        SetStep(p, "Update firmware");
    }
    p->size = size;
    p->sent = sent;
    if (p->station->job->errorIsConsole) {
        return;
    }
    // Without a console: a plain line every tenth of the way.
    const int tenth = static_cast<int>(static_cast<int64_t>(sent) * 10 / size);
    if (tenth > p->lastTenth) {
        p->lastTenth = tenth;
        fprintf(stderr, "COM%d: %3d %% (%ld of %ld bytes)\n", p->port, tenth * 10,
                static_cast<long>(sent), static_cast<long>(size));
        fflush(stderr);
    }
}

// The first run of every port waits for the one OFF/ON request to be
// answered (Enter on a console), then, without a console, for its module's
// start-up output within --wait-start. A later run (--repeat) waits for the
// next module's start-up output for as long as the station runs.
int16_t RequestPowerCycle(void* context, int16_t port, const char*) {
    StationPort* p = PortOf(context);
    const StationJob* job = p->station->job;
    bool bounded = false;
    if (p->firstRun) {
        p->firstRun = false;
        SetStep(p, "switch the module OFF and ON");
        p->phase = kPhaseAwaitingPower;
        while (!p->station->powerCycleGiven) {
            if (StopWaiting(p)) {
                p->abandoned = true;
                return 1;
            }
            Sleep(20);
        }
        if (job->inputIsConsole) {
            p->phase = kPhaseRunning;
            p->runStartMs = GetTickCount64();
            p->startUtc = UtcNowText();
            return 0;
        }
        bounded = true;
    } else {
        SetStep(p, kNextModuleText);
        p->phase = kPhaseAwaitingModule;
        // After a device that talked without ever sending the banner, the
        // next module is one that starts up on a silent line: the device is
        // not taken for a next module again and again.
        while (p->previousOutcome == kNoKorvanModule &&
               DiscardInput(port, kNextModuleSilenceMs) != 0 && !StopWaiting(p)) {
        }
        if (StopWaiting(p)) {
            p->abandoned = true;
            return 1;
        }
        if (!job->errorIsConsole) {
            fprintf(stderr, "COM%d: %s\n", p->port, kNextModuleText);
            fflush(stderr);
        }
    }
    const ULONGLONG startMs = GetTickCount64();
    while (AwaitInput(port, 200) != 0) {
        if (StopWaiting(p)) {
            p->abandoned = true;
            return 1;
        }
        if (bounded && GetTickCount64() - startMs >= static_cast<ULONGLONG>(job->waitStartMs)) {
            return 1;
        }
    }
    SetStep(p, "module switched on");
    p->phase = kPhaseRunning;
    p->runStartMs = GetTickCount64();
    p->startUtc = UtcNowText();
    return 0;
}

void SignalFailure(void*) {}
void PortFound(void*, int16_t) {}

void ShowReport(void* context, const RunReport* report) {
    PortOf(context)->report = *report;
}

void EndRun(void* context) {
    StationPort* p = PortOf(context);
    p->size = 0;
    if (p->abandoned) {
        return;
    }
    ModuleDone done;
    done.index = p->index;
    done.report = p->report;
    done.result = p->result;
    done.startUtc = p->startUtc;
    done.seconds = (GetTickCount64() - p->runStartMs) / 1000.0;
    SetStep(p, OutcomeText(*p->station->job, p->report, p->result));
    std::lock_guard<std::mutex> hold(p->station->doneLock);
    p->station->doneQueue.push_back(done);
}

} // namespace

DWORD WINAPI PortThread(LPVOID argument) {
    StationPort* p = static_cast<StationPort*>(argument);
    Station* station = p->station;
    const RunFace face = {p,
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
    do {
        if (StationInterrupted() || station->noMoreModules) {
            break;
        }
        if (station->job->count > 0 && station->modulesTaken.fetch_add(1) >= station->job->count) {
            break;
        }
        // A port that cannot be opened leaves the station: trying it again
        // at once would only fill the log.
        p->previousOutcome = RunProgramming(&face);
        if (p->previousOutcome == kPortNotOpened) {
            break;
        }
    } while (station->job->repeat);
    p->phase = kPhaseEnded;
    return 0;
}
