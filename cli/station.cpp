#include "station.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

#include "console_face.h"
#include "serial_port.h"
#include "station_display.h"

namespace {

// The station's flags, set from the console's control handler thread.
std::atomic<bool> interrupted{false};
std::vector<int16_t> interruptPorts;

BOOL WINAPI OnControlEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    interrupted = true;
    for (int16_t port : interruptPorts) {
        InterruptPort(port);
    }
    return TRUE;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

const char* JobName(RunMode mode) {
    switch (mode) {
    case kFirmwareMode:
        return "firmware";
    case kProfibusIdMode:
        return "profibus-id";
    case kReadIdMode:
        return "read-id";
    }
    return "";
}

std::string OutcomeText(const StationJob& job, const RunReport& report, const std::string& result) {
    if (report.outcome != kRunSucceeded) {
        return FailureText(report.outcome);
    }
    if (job.mode == kReadIdMode) {
        return "Profibus-ID " + std::to_string(report.oldProfibusId);
    }
    return Trimmed(result);
}

ModuleLogLine LogLineOf(const StationJob& job, const RunReport& report, const std::string& result,
                        const std::string& startUtc, double seconds) {
    ModuleLogLine line;
    line.timeUtc = startUtc;
    line.port = report.port;
    line.job = JobName(job.mode);
    if (job.mode == kFirmwareMode) {
        line.scriptName = job.scriptName;
        line.scriptSize = job.scriptSize;
        line.scriptSha256 = job.scriptSha256;
    }
    line.oldProfibusId = report.oldProfibusId;
    if (job.mode == kProfibusIdMode && report.outcome == kRunSucceeded) {
        line.newProfibusId = job.profibusId;
    }
    line.startup = report.startup;
    line.exitStatus = report.outcome;
    line.outcome = OutcomeText(job, report, result);
    line.detail = report.detail;
    if (line.detail.empty() && report.outcome == kPortNotOpened) {
        line.detail = PortOpenReason(report.port);
    }
    line.seconds = seconds;
    return line;
}

void CatchInterrupts(const std::vector<int16_t>& ports) {
    interruptPorts = ports;
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

namespace {

// Watches the stop event for the rest of the process, a look every 200 ms.
DWORD WINAPI WatchStopEvent(LPVOID event) {
    while (!interrupted) {
        if (WaitForSingleObject(static_cast<HANDLE>(event), 200) == WAIT_OBJECT_0) {
            OnControlEvent(CTRL_BREAK_EVENT);
        }
    }
    return 0;
}

} // namespace

std::string InterruptOnEvent(const std::string& eventName) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    if (event == nullptr) {
        return SystemMessage(GetLastError());
    }
    HANDLE watcher = CreateThread(nullptr, 0, WatchStopEvent, event, 0, nullptr);
    if (watcher == nullptr) {
        CloseHandle(event);
        return SystemMessage(GetLastError());
    }
    CloseHandle(watcher);
    return "";
}

namespace {

// Where a port's run stands, for the main thread.
enum PortPhase : int {
    kPhaseStarting,       // opening, before the OFF/ON request
    kPhaseAwaitingPower,  // the first run waits for the OFF/ON request to be answered
    kPhaseAwaitingModule, // a later run waits for the next module's start-up output
    kPhaseRunning,
    kPhaseEnded,
};

const char kNextModuleText[] = "next module: switch it ON";
// The silence on a port before a next module's start-up output counts.
const int32_t kNextModuleSilenceMs = 500;

struct ModuleDone {
    size_t index; // the port's place on the command line
    RunReport report;
    std::string result;
    std::string startUtc;
    double seconds;
};

struct Station;

// One port of the station: its thread, its face and what it shows.
struct StationPort {
    Station* station = nullptr;
    size_t index = 0;
    int16_t port = 0;
    HANDLE thread = nullptr;
    std::atomic<int> phase{kPhaseStarting};

    // What the display shows; the port's thread writes, the main thread reads.
    std::mutex viewLock;
    std::string step;
    std::atomic<int32_t> sent{0};
    std::atomic<int32_t> size{0};
    std::atomic<ULONGLONG> downloadStartMs{0};
    int lastTenth = 0;

    // The run under way: the port's thread only.
    bool firstRun = true;
    RunOutcome previousOutcome = kRunSucceeded; // of the run before
    bool abandoned = false; // ended before any module showed up: nothing to record
    std::string result;
    RunReport report{};
    ULONGLONG runStartMs = 0;
    std::string startUtc;

    // The modules done: the main thread only.
    int done = 0;
    int failed = 0;
    int firstFailure = 0;
    std::string lastOutcome = "no module";
    double seconds = 0;
};

struct Station {
    const StationJob* job = nullptr;
    std::vector<std::unique_ptr<StationPort>> ports;
    std::atomic<bool> powerCycleGiven{false};
    std::atomic<bool> noMoreModules{false}; // the log failed: the runs under way end, no new ones
    std::atomic<int32_t> modulesTaken{0};   // --count: runs started on all ports

    std::mutex doneLock;
    std::deque<ModuleDone> doneQueue;
};

StationPort* PortOf(void* context) {
    return static_cast<StationPort*>(context);
}

void SetStep(StationPort* p, const std::string& text) {
    std::lock_guard<std::mutex> hold(p->viewLock);
    p->step = text;
}

bool StopWaiting(StationPort* p) {
    return interrupted || p->station->noMoreModules;
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
        if (interrupted || station->noMoreModules) {
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

// The texts of a finished module: its outcome line and, for a failure,
// the detail below it.
void ShowModuleDone(StationDisplay* display, const StationJob& job, const StationPort& p,
                    const ModuleDone& done) {
    char line[300];
    snprintf(line, sizeof line, "COM%d: %s (%.1f s)", p.port,
             OutcomeText(job, done.report, done.result).c_str(), done.seconds);
    display->Say(line);
    const std::string detail = LogLineOf(job, done.report, done.result, "", 0).detail;
    if (done.report.outcome != kRunSucceeded && !detail.empty()) {
        display->Say("  " + detail);
    }
}

// A finished module: shown, sounded and logged. False when the log failed.
bool TakeModuleDone(Station* station, StationDisplay* display, const ModuleDone& done) {
    const StationJob& job = *station->job;
    StationPort& p = *station->ports[done.index];
    ShowModuleDone(display, job, p, done);
    p.done++;
    p.lastOutcome = OutcomeText(job, done.report, done.result);
    p.seconds += done.seconds;
    if (done.report.outcome != kRunSucceeded) {
        p.failed++;
        if (p.firstFailure == 0) {
            p.firstFailure = done.report.outcome;
        }
    }
    // A high short beep for a success, the dialog's failure beep otherwise.
    if (done.report.outcome == kRunSucceeded) {
        Beep(2000, 80);
    } else {
        Beep(1500, 150);
    }
    if (job.log == nullptr) {
        return true;
    }
    const std::string problem =
        job.log->Append(LogLineOf(job, done.report, done.result, done.startUtc, done.seconds));
    if (!problem.empty()) {
        display->Say("korvan-cli: the log cannot be written: " + problem +
                     "; the station stops after the modules under way");
        return false;
    }
    return true;
}

std::vector<PortView> ViewsOf(Station* station) {
    std::vector<PortView> views;
    const ULONGLONG now = GetTickCount64();
    for (auto& p : station->ports) {
        PortView view;
        view.port = p->port;
        {
            std::lock_guard<std::mutex> hold(p->viewLock);
            view.step = p->step;
        }
        view.size = p->size;
        view.sent = p->sent;
        const ULONGLONG startMs = p->downloadStartMs;
        if (view.size > 0 && view.sent > 1 && now > startMs + 50) {
            view.rate = (view.sent - 1) / ((now - startMs) / 1000.0);
        }
        views.push_back(view);
    }
    return views;
}

// Enter on the console: the technician has switched the modules on. The
// line is read on a thread of its own, so that the live lines go on; a
// console that never gets Enter keeps it waiting until the process ends
// (Ctrl+C ends the station meanwhile).
std::atomic<bool> enterPressed{false};

DWORD WINAPI ReadEnterLine(LPVOID) {
    char line[256];
    if (fgets(line, sizeof line, stdin) != nullptr) {
        enterPressed = true;
    }
    return 0;
}

bool AllPortsAt(Station* station, int phase) {
    for (auto& p : station->ports) {
        if (p->phase < phase) {
            return false;
        }
    }
    return true;
}

void TakeAllDone(Station* station, StationDisplay* display, bool* logFailed) {
    for (;;) {
        ModuleDone done;
        {
            std::lock_guard<std::mutex> hold(station->doneLock);
            if (station->doneQueue.empty()) {
                return;
            }
            done = station->doneQueue.front();
            station->doneQueue.pop_front();
        }
        if (!TakeModuleDone(station, display, done) && !*logFailed) {
            *logFailed = true;
            station->noMoreModules = true;
        }
    }
}

// How long the runs may take to end once interrupted: every wait of theirs
// is cut within some 50 ms, closing a port takes a few seconds at most.
const ULONGLONG kStopLimitMs = 30000;

} // namespace

int RunStation(const StationJob& job) {
    Station station;
    station.job = &job;
    for (size_t k = 0; k < job.ports.size(); ++k) {
        auto p = std::make_unique<StationPort>();
        p->station = &station;
        p->index = k;
        p->port = job.ports[k];
        p->step = "opening";
        station.ports.push_back(std::move(p));
    }
    StationDisplay display(job.errorIsConsole, job.ports.size());
    for (auto& p : station.ports) {
        p->thread = CreateThread(nullptr, 0, PortThread, p.get(), 0, nullptr);
        if (p->thread == nullptr) {
            p->phase = kPhaseEnded;
            display.Say("COM" + std::to_string(p->port) + ": no thread for its run");
        }
    }

    bool requestShown = false;
    bool logFailed = false;
    ULONGLONG stopSeenMs = 0;
    for (;;) {
        if (!requestShown && AllPortsAt(&station, kPhaseAwaitingPower)) {
            requestShown = true;
            display.Say("Please switch the Korvan module OFF and then ON");
            HANDLE reader = nullptr;
            if (job.inputIsConsole) {
                display.Say("(all of them; press Enter when they are switched on again)");
                reader = CreateThread(nullptr, 0, ReadEnterLine, nullptr, 0, nullptr);
            }
            if (reader == nullptr) {
                station.powerCycleGiven = true;
            } else {
                CloseHandle(reader);
            }
        }
        if (requestShown && !station.powerCycleGiven && enterPressed) {
            station.powerCycleGiven = true;
        }
        TakeAllDone(&station, &display, &logFailed);
        display.Update(ViewsOf(&station));
        if (AllPortsAt(&station, kPhaseEnded)) {
            break;
        }
        if (interrupted && stopSeenMs == 0) {
            stopSeenMs = GetTickCount64();
        }
        if (stopSeenMs != 0 && GetTickCount64() - stopSeenMs > kStopLimitMs) {
            display.Say("korvan-cli: a port did not end its run after Ctrl+C");
            break;
        }
        Sleep(100);
    }
    for (auto& p : station.ports) {
        if (p->thread != nullptr) {
            WaitForSingleObject(p->thread, 1000);
            CloseHandle(p->thread);
        }
    }
    TakeAllDone(&station, &display, &logFailed);
    display.Update(ViewsOf(&station));

    int status = 0;
    printf("%s\n", SummaryLine(0, "modules", "outcome", 0).c_str());
    for (auto& p : station.ports) {
        if (status == 0 && p->firstFailure != 0) {
            status = p->firstFailure;
        }
        const std::string modules =
            job.repeat ? std::to_string(p->done) + " (" + std::to_string(p->failed) + " failed)"
                       : std::to_string(p->done);
        printf("%s\n", SummaryLine(p->port, modules, p->lastOutcome, p->seconds).c_str());
    }
    fflush(stdout);
    if (interrupted) {
        return kExitInterrupted;
    }
    return logFailed ? kExitLogFailed : status;
}
