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
#include "station_port.h"

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

bool StationInterrupted() {
    return interrupted;
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
