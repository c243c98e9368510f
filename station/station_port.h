// The ports of a station: each runs its modules on a thread of its own,
// through a face that leaves what it does in the station's state (never
// waiting for whoever shows it) and hands each module done to the station's
// main thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "run_face.h"
#include "station.h"
#include "station_state.h"

// Where a port's run stands, for the main thread.
enum PortPhase : int {
    kPhaseStarting,       // opening, before the OFF/ON request
    kPhaseAwaitingPower,  // the first run waits for the OFF/ON request to be answered
    kPhaseAwaitingModule, // a later run waits for the next module's start-up output
    kPhaseRunning,
    kPhaseEnded,
};

// A module done, handed from the port's thread to the main thread.
struct ModuleDone {
    size_t index; // the port's place on the command line
    RunReport report;
    std::string result;
    std::string startUtc;
    double seconds;
    ULONGLONG endMs;
};

struct Station;

// One port of the station: its thread, and the run under way.
struct StationPort {
    Station* station = nullptr;
    size_t index = 0;
    int16_t port = 0;
    HANDLE thread = nullptr;
    std::atomic<int> phase{kPhaseStarting};
    // A stop cut the port's first wait short, before any module showed up.
    std::atomic<bool> stoppedBeforeModule{false};

    // The run under way: the port's thread only.
    bool firstRun = true;
    bool everOpened = false;                    // a run has opened the port
    RunOutcome previousOutcome = kRunSucceeded; // of the run before
    bool waitCutShort = false; // the run ended before any module showed up: nothing to record
    bool deviceGone = false;   // the port's device went away: wait for it before the next module
    bool detecting = false;    // the module talks, its banner is awaited
    int lastTenth = 0;         // of the download under way
    int32_t lastSent = 0;
    int32_t lastSize = 0;
    std::string result;
    RunReport report{};
    ULONGLONG moduleOnMs = 0;
    std::string moduleOnUtc;
};

struct Station {
    const StationJob* job = nullptr;
    StationState* state = nullptr;
    std::vector<std::unique_ptr<StationPort>> ports;
    std::atomic<bool> powerCycleGiven{false};
    // --count: the modules that have started on all ports. A port takes its
    // turn when its module's start-up output comes; a turn is never given
    // back once the module has been recorded.
    std::atomic<int32_t> turnsTaken{0};

    std::mutex doneLock; // held only to hand a module over
    std::deque<ModuleDone> doneQueue;
    // Set when a module is handed over: the main thread takes it at once.
    HANDLE moduleDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ~Station() {
        if (moduleDone != nullptr) {
            CloseHandle(moduleDone);
        }
    }
};

// The face of a port's runs.
RunFace MakePortFace(StationPort* p);

// A port's thread: its runs, one module after another with --repeat, until
// the station stops; argument is the port's StationPort.
DWORD WINAPI PortThread(LPVOID argument);

// How often a port whose adapter has gone tries to open it again.
enum : DWORD { kAdapterRetryMs = 1000 };

// A station of one port whose runs the caller makes itself, in this
// process (RunProgramming with Face()), with the OFF/ON request taken as
// answered: for the benchmark, which times the console's face, and for
// tests of the core on it.
class OnePortStation {
  public:
    explicit OnePortStation(const StationJob& job);
    OnePortStation(const OnePortStation&) = delete;
    OnePortStation& operator=(const OnePortStation&) = delete;
    RunFace Face() {
        return MakePortFace(&port_);
    }
    // What the last run found out, and its result line.
    const RunReport& Report() const {
        return port_.report;
    }
    const std::string& Result() const {
        return port_.result;
    }

  private:
    StationJob job_;
    StationState state_;
    Station station_;
    StationPort port_;
};
