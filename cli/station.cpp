// The station's main thread: it starts a thread per port, makes the one
// OFF/ON request, takes each module done (its lines, its beep, its log
// line), keeps the live lines, and ends with the summary and the exit
// status once every port has ended or a stop has run its course.
#include "station.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "run_texts.h"
#include "serial_port.h"
#include "station_display.h"
#include "station_port.h"
#include "stop_signal.h"

DWORD stationStopLimitMs = 30000;

namespace {

const char kRequestText[] = "Please switch the Korvan module OFF and then ON";
// How often the main thread looks at the ports.
const DWORD kLookMs = 50;

// What the main thread keeps of a station; it outlives RunStation when a
// port's thread has not ended (see StationEnd).
struct StationRun {
    Station station;
    std::unique_ptr<StationDisplay> display;
    bool requestShown = false;
    bool logFailed = false;
    std::vector<ModuleEnd> ends;
};

// Enter on the console: the technician has switched the modules on. The
// line is read on a thread of its own, so that the live lines go on, and
// from the console's handle itself, not through the C runtime's stdin: a
// thread that waits in the runtime's stream holds its lock, and the
// runtime's exit would wait for it. The thread is never waited for; the
// process ends whatever it does.
std::atomic<bool> enterPressed{false};

DWORD WINAPI ReadEnterLine(LPVOID) {
    char line[256];
    DWORD got = 0;
    if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &got, nullptr)) {
        enterPressed = true;
    }
    return 0;
}

DisplayKind KindOf(const StationJob& job) {
    if (job.Single()) {
        return kSingleRunLines;
    }
    return job.errorIsConsole ? kLiveLines : kPlainLines;
}

// A single run tells its outcome as the dialog would: the success text on
// standard output, a failure's text and where it stopped on standard error.
void ShowSingleOutcome(const StationJob& job, const ModuleDone& module) {
    if (module.report.outcome == kRunSucceeded && job.choices.mode == kReadIdMode) {
        // The station address for a script; the whole record for a person.
        fprintf(job.output, "%d\n", module.report.oldProfibusId);
        fprintf(job.errors, "Configuration record: %s\n", module.report.record);
    } else if (module.report.outcome == kRunSucceeded) {
        fprintf(job.output, "%s\n", module.result.c_str());
    } else {
        fputs(FailureReport(module.report).c_str(), job.errors);
    }
    fflush(job.output);
    fflush(job.errors);
}

// A station's line of a module done, with its detail below a failure, and
// its beep: a high short one for a success, the dialog's failure beep
// otherwise.
void ShowStationOutcome(StationRun* run, const StationPort& stationPort, const ModuleDone& module) {
    const StationJob& job = *run->station.job;
    char line[300];
    snprintf(line, sizeof line, "COM%d: %s (%.1f s)", stationPort.port,
             OutcomeText(job, module.report, module.result).c_str(), module.seconds);
    run->display->Say(line);
    const std::string detail = LogLineOf(job, module.report, module.result, "", 0).detail;
    if (module.report.outcome != kRunSucceeded && !detail.empty()) {
        run->display->Say("  " + detail);
    }
    if (module.report.outcome == kRunSucceeded) {
        Beep(2000, 80);
    } else {
        Beep(1500, 150);
    }
}

// A module done: shown, counted and logged. A log line that cannot be
// written stops the station after the modules under way.
void TakeModuleDone(StationRun* run, const ModuleDone& module) {
    const StationJob& job = *run->station.job;
    StationPort& stationPort = *run->station.ports[module.index];
    if (job.Single()) {
        ShowSingleOutcome(job, module);
    } else {
        ShowStationOutcome(run, stationPort, module);
    }
    run->ends.push_back({module.index, module.report.outcome, module.endMs});
    stationPort.lastOutcome = OutcomeText(job, module.report, module.result);
    // A port that did not open has done no module.
    if (module.report.outcome != kPortNotOpened) {
        stationPort.modulesDone++;
        stationPort.seconds += module.seconds;
        if (module.report.outcome != kRunSucceeded) {
            stationPort.modulesFailed++;
        }
    }
    if (job.log == nullptr || run->logFailed) {
        return;
    }
    const std::string problem = job.log->Append(
        LogLineOf(job, module.report, module.result, module.startUtc, module.seconds));
    if (!problem.empty()) {
        run->logFailed = true;
        run->station.noMoreModules = true;
        run->display->Say("korvan-cli: the log cannot be written: " + problem +
                          (job.Single() ? "" : "; the station stops after the modules under way"));
    }
}

void TakeModulesDone(StationRun* run) {
    for (;;) {
        ModuleDone module;
        {
            std::lock_guard<std::mutex> hold(run->station.doneLock);
            if (run->station.doneQueue.empty()) {
                return;
            }
            module = run->station.doneQueue.front();
            run->station.doneQueue.pop_front();
        }
        TakeModuleDone(run, module);
    }
}

bool AllPortsAt(const Station& station, int phase) {
    for (const auto& stationPort : station.ports) {
        if (stationPort->phase < phase) {
            return false;
        }
    }
    return true;
}

bool AnyPortAt(const Station& station, int phase) {
    for (const auto& stationPort : station.ports) {
        if (stationPort->phase == phase) {
            return true;
        }
    }
    return false;
}

// The one OFF/ON request, once every port is ready for its module; none
// when no port could be opened.
void MakeRequestWhenReady(StationRun* run) {
    Station& station = run->station;
    const StationJob& job = *station.job;
    if (run->requestShown || !AllPortsAt(station, kPhaseAwaitingPower) ||
        !AnyPortAt(station, kPhaseAwaitingPower)) {
        return;
    }
    run->requestShown = true;
    // From now on modules may be under way: the end of the user's session
    // must leave their lines written.
    WatchSessionEnd();
    run->display->Ask(kRequestText);
    HANDLE reader = nullptr;
    if (job.inputIsConsole) {
        run->display->Ask(job.Single()
                              ? "(press Enter when it is switched on again)"
                              : "(all of them; press Enter when they are switched on again)");
        reader = CreateThread(nullptr, 0, ReadEnterLine, nullptr, 0, nullptr);
    }
    if (reader == nullptr) {
        station.powerCycleGiven = true;
    } else {
        CloseHandle(reader);
    }
}

void PrintSummary(StationRun* run) {
    const StationJob& job = *run->station.job;
    fprintf(job.output, "%s\n", SummaryLine(0, "modules", "outcome", 0).c_str());
    for (const auto& stationPort : run->station.ports) {
        const std::string modules = job.repeat ? std::to_string(stationPort->modulesDone) + " (" +
                                                     std::to_string(stationPort->modulesFailed) +
                                                     " failed)"
                                               : std::to_string(stationPort->modulesDone);
        fprintf(
            job.output, "%s\n",
            SummaryLine(stationPort->port, modules, stationPort->lastOutcome, stationPort->seconds)
                .c_str());
    }
    fflush(job.output);
}

int StatusOf(StationRun* run) {
    const StationJob& job = *run->station.job;
    std::vector<ModuleEnd> ends = run->ends;
    if (!job.repeat) {
        // A port whose one module never began because of the stop has not
        // done it.
        for (const auto& stationPort : run->station.ports) {
            if (stationPort->stoppedBeforeModule) {
                ends.push_back({stationPort->index, kExitInterrupted, GetTickCount64()});
            }
        }
    }
    const int status = StationExitStatus(ends, job.repeat);
    if (run->logFailed && (status == 0 || !job.Single())) {
        return kExitLogFailed;
    }
    return status;
}

// A stop that came before any port was opened: nothing was done.
StationEnd StoppedBeforeStart(const StationJob& job) {
    RunReport report{};
    report.outcome = kRunInterrupted;
    snprintf(report.detail, sizeof report.detail, "stopped before any port was opened");
    fputs(FailureReport(report).c_str(), job.errors);
    fflush(job.errors);
    StopHandled();
    return {kExitInterrupted, true};
}

} // namespace

StationEnd RunStation(const StationJob& job) {
    if (StopRequested()) {
        return StoppedBeforeStart(job);
    }
    enterPressed = false;
    auto run = std::make_unique<StationRun>();
    Station& station = run->station;
    station.job = &job;
    run->display = std::make_unique<StationDisplay>(KindOf(job), job.ports, job.errors,
                                                    job.errorIsConsole, job.consoleCopy);
    station.display = run->display.get();
    for (size_t k = 0; k < job.ports.size(); ++k) {
        auto stationPort = std::make_unique<StationPort>();
        stationPort->station = &station;
        stationPort->index = k;
        stationPort->port = job.ports[k];
        station.ports.push_back(std::move(stationPort));
    }
    for (auto& stationPort : station.ports) {
        stationPort->thread = CreateThread(nullptr, 0, PortThread, stationPort.get(), 0, nullptr);
        if (stationPort->thread == nullptr) {
            stationPort->phase = kPhaseEnded;
            run->display->Say("COM" + std::to_string(stationPort->port) +
                              ": no thread for its run");
        }
    }

    bool portsEnded = true;
    ULONGLONG stopSeenMs = 0;
    for (;;) {
        MakeRequestWhenReady(run.get());
        if (run->requestShown && enterPressed) {
            station.powerCycleGiven = true;
        }
        TakeModulesDone(run.get());
        run->display->Refresh();
        if (AllPortsAt(station, kPhaseEnded)) {
            break;
        }
        if (StopRequested() && stopSeenMs == 0) {
            stopSeenMs = GetTickCount64();
        }
        if (stopSeenMs != 0 && GetTickCount64() - stopSeenMs > stationStopLimitMs) {
            run->display->Say("korvan-cli: a port did not end its run after the stop");
            portsEnded = false;
            break;
        }
        Sleep(kLookMs);
    }
    for (auto& stationPort : station.ports) {
        if (stationPort->thread != nullptr && portsEnded) {
            // Each has ended its runs; this is the thread's very end.
            WaitForSingleObject(stationPort->thread, 1000);
        }
    }
    TakeModulesDone(run.get());
    run->display->Refresh(true);
    if (!job.Single()) {
        PrintSummary(run.get());
    }
    const int status = StatusOf(run.get());
    StopHandled();
    EndSessionWatch();
    if (!portsEnded) {
        // A port's thread may still use what the station holds: it is left
        // to it, and the caller ends the process.
        run.release();
        return {status, false};
    }
    for (auto& stationPort : station.ports) {
        if (stationPort->thread != nullptr) {
            CloseHandle(stationPort->thread);
        }
    }
    return {status, true};
}
