// The ports of a production station: each runs its modules on a thread of
// its own, through a face that keeps what the display shows and hands each
// module done to the station's main thread.
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

// Where a port's run stands, for the main thread.
enum PortPhase : int {
    kPhaseStarting,       // opening, before the OFF/ON request
    kPhaseAwaitingPower,  // the first run waits for the OFF/ON request to be answered
    kPhaseAwaitingModule, // a later run waits for the next module's start-up output
    kPhaseRunning,
    kPhaseEnded,
};

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

// True once Ctrl+C (or the stop event) has interrupted the station.
bool StationInterrupted();

// A port's thread: its runs, one module after another with --repeat, until
// the station stops; argument is the port's StationPort.
DWORD WINAPI PortThread(LPVOID argument);
