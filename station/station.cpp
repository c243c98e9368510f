// The station's main thread: it starts a thread per port and the display's,
// makes the one OFF/ON request, takes each module done into the station's
// state and the log, and ends with the summary and the exit status once
// every port has ended or a stop has run its course. It never writes to the
// console itself: the display does.
#include "station.h"

#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "console_calls.h"
#include "log_writer.h"
#include "run_id.h"
#include "run_texts.h"
#include "serial_port.h"
#include "station_display.h"
#include "station_port.h"
#include "stop_signal.h"

DWORD stationStopLimitMs = 30000;

namespace {

const char kRequestText[] = "Please switch the Korvan module OFF and then ON";
// How often the main thread looks at the ports; a module done wakes it at
// once.
const DWORD kLookMs = 50;
// How long the log's last try may take: the try under way and the last one,
// each with its waits for another program's lock (cut short by a stop), and
// a write.
const DWORD kLogFinishMs = 3 * ModuleLog::kLockWaitMs + 2000;

// What the main thread keeps of a station; it outlives RunStation when a
// thread of the station has not ended (see StationEnd).
struct StationRun {
    std::unique_ptr<StationState> ownState;
    Station station;
    std::unique_ptr<StationDisplay> display;
    std::unique_ptr<LogWriter> logWriter;
    bool requestShown = false;
    std::vector<ModuleEnd> ends;
};

// Enter on the console: the technician has switched the modules on. The
// line is read on a thread of its own, so that the live lines go on, and
// from the console's handle itself, not through the C runtime's stdin: a
// thread that waits in the runtime's stream holds its lock, and the
// runtime's exit would wait for it. A read that ends with no byte is Ctrl+C
// at the request (a stop, not an Enter). The thread is never waited for;
// the process ends whatever it does.
std::atomic<bool> enterPressed{false};

DWORD WINAPI ReadEnterLine(LPVOID) {
    char line[256];
    DWORD got = 0;
    if (consoleCalls.read(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &got, nullptr) &&
        got > 0) {
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

HANDLE HandleOf(FILE* file) {
    return file == nullptr ? nullptr : reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

void Say(StationRun* run, const std::string& line) {
    run->station.state->StationLines().Push(kSayLine, line);
}

// A module done: into the state (which the display and any other reader
// show), counted for the exit status, and logged.
void TakeModuleDone(StationRun* run, const ModuleDone& module) {
    const StationJob& job = *run->station.job;
    ModuleRecord record;
    record.portIndex = module.index;
    record.line = LogLineOf(job, module.report, module.result, module.startUtc, module.seconds);
    record.report = module.report;
    record.result = module.result;
    record.outcomeText = record.line.outcome;
    record.endMs = module.endMs;
    run->ends.push_back({module.index, module.report.outcome, module.endMs});
    // Shown at once; the log's thread follows with the row.
    const std::string row = job.log != nullptr ? job.log->Row(record.line) : "";
    StationState& state = *run->station.state;
    state.AddRecord(std::move(record));
    if (run->logWriter != nullptr) {
        run->logWriter->Add(row);
    }
    // The port's alarm, said once when it is raised.
    const PortSnapshot port = state.Port(module.index);
    if (port.alarm && port.failedInRow == job.alarmAfter) {
        Say(run, "COM" + std::to_string(port.port) + ": " + std::to_string(port.failedInRow) +
                     " failed in a row");
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
    LineRing& lines = station.state->StationLines();
    lines.Push(kAskLine, kRequestText);
    HANDLE reader = nullptr;
    if (job.inputIsConsole) {
        lines.Push(kAskLine, job.Single()
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
    const bool rowsLost = run->logWriter != nullptr && run->logWriter->Waiting() > 0;
    if (rowsLost && (status == 0 || !job.Single())) {
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

bool StopRequestedCall() {
    return StopRequested();
}

// What the display shows last: the rows that never reached the log go to
// standard output, as CSV, so that they are not lost.
void FinishDisplay(StationRun* run, bool* threadsEnded) {
    std::string errorsTail;
    std::string outputTail;
    if (run->logWriter != nullptr && run->logWriter->Waiting() > 0) {
        const size_t rows = run->logWriter->Waiting();
        errorsTail = "korvan-cli: " + run->logWriter->Problem() + "; " + std::to_string(rows) +
                     (rows == 1 ? " row follows" : " rows follow") + " on standard output";
        outputTail = run->logWriter->Leftover();
    }
    if (!run->display->Finish(errorsTail, outputTail, StopRequestedCall)) {
        *threadsEnded = false;
    }
}

// Waits for the ports, takes their modules and keeps the live lines, until
// every port has ended or the stop limit has run out. False then.
bool RunPorts(StationRun* run) {
    Station& station = run->station;
    ULONGLONG stopSeenMs = 0;
    for (;;) {
        MakeRequestWhenReady(run);
        if (run->requestShown && enterPressed) {
            station.powerCycleGiven = true;
        }
        TakeModulesDone(run);
        if (AllPortsAt(station, kPhaseEnded)) {
            return true;
        }
        if (StopRequested() && stopSeenMs == 0) {
            stopSeenMs = GetTickCount64();
            station.state->SetStationStatus(kStationStopping);
        }
        if (stopSeenMs != 0 && GetTickCount64() - stopSeenMs > stationStopLimitMs) {
            Say(run, "korvan-cli: a port did not end its run after the stop");
            return false;
        }
        WaitForSingleObject(station.moduleDone, kLookMs);
    }
}

} // namespace

StationJobInfo JobInfoOf(const StationJob& job) {
    StationJobInfo info;
    info.job = JobName(job.choices.mode);
    if (job.choices.mode == kFirmwareMode) {
        info.script = job.scriptName;
        info.scriptBytes = job.scriptSize;
        info.scriptSha256 = job.scriptSha256;
    }
    if (job.choices.mode == kProfibusIdMode) {
        info.profibusId = job.choices.profibusId;
    }
    info.startedUtc = UtcNowText();
    info.run = NewRunId(info.startedUtc);
    info.station = job.stationName;
    info.order = job.order;
    info.operatorName = job.operatorName;
    info.alarmAfter = job.alarmAfter;
    if (job.log != nullptr) {
        info.logFile = job.log->Name();
    }
    return info;
}

StationEnd RunStation(const StationJob& job, StationState* state) {
    if (StopRequested()) {
        return StoppedBeforeStart(job);
    }
    enterPressed = false;
    auto run = std::make_unique<StationRun>();
    Station& station = run->station;
    station.job = &job;
    if (state == nullptr) {
        run->ownState = std::make_unique<StationState>(job.ports, JobInfoOf(job));
        state = run->ownState.get();
    }
    station.state = state;
    if (job.log != nullptr) {
        run->logWriter = std::make_unique<LogWriter>(
            job.log, [state](const std::string& problem) { state->SetLogProblem(problem); });
        if (!run->logWriter->Start()) {
            Say(run.get(), "korvan-cli: no thread for the log: its rows are written at the end");
        }
        if (job.log->HeaderBefore()) {
            Say(run.get(), "korvan-cli: the log keeps the columns it was begun with: its rows "
                           "leave out station, order and operator");
        }
    }
    fflush(job.output);
    fflush(job.errors);
    DisplaySinks sinks;
    sinks.errors = HandleOf(job.errors);
    sinks.output = HandleOf(job.output);
    sinks.consoleCopy = HandleOf(job.consoleCopy);
    sinks.errorsIsConsole = job.errorIsConsole;
    run->display = std::make_unique<StationDisplay>(KindOf(job), state, sinks);
    run->display->Start();
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
            state->SetStatus(stationPort->index, kPortEnded);
            Say(run.get(), "COM" + std::to_string(stationPort->port) + ": no thread for its run");
        }
    }

    bool threadsEnded = RunPorts(run.get());
    for (auto& stationPort : station.ports) {
        if (stationPort->thread != nullptr && threadsEnded) {
            // Each has ended its runs; this is the thread's very end.
            WaitForSingleObject(stationPort->thread, 1000);
        }
    }
    TakeModulesDone(run.get());
    if (run->logWriter != nullptr && !run->logWriter->Finish(kLogFinishMs)) {
        Say(run.get(), "korvan-cli: a write of the log did not return");
        threadsEnded = false;
    }
    state->SetStationStatus(kStationEnded);
    FinishDisplay(run.get(), &threadsEnded);
    const int status = StatusOf(run.get());
    StopHandled();
    EndSessionWatch();
    if (!threadsEnded) {
        // A thread of the station may still use what it holds: it is left
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
