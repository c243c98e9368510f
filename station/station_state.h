// The station as it stands, for whoever shows it: the job, what each port
// is doing, every module done, the totals. Each port's thread writes its own
// port's part and never waits for a reader (atomics, and texts published
// without a lock). The station's main thread adds the module records, under
// a lock that readers hold only to copy; the last kRecordsHeld of them are
// held, each port's last one always. The console display and the server
// read it; neither writes to it, but for the pause that the server asks for.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "module_log.h"
#include "published_lines.h"
#include "run_face.h"

// What a port is doing.
enum PortStatus : int {
    kPortWaiting,     // for the OFF/ON request, or for its next module
    kPortDetecting,   // its module talks: the banner is awaited
    kPortProgramming, // the job talks to the module
    kPortPassed,      // its last module succeeded; it waits for the next one
    kPortFailed,      // its last module failed; it waits for the next one
    kPortAdapterGone, // its adapter was pulled out; it waits for it
    kPortPaused,      // the station is paused: no new module is taken
    kPortEnded,       // it takes no more modules
};

// What the station is doing.
enum StationStatus : int { kStationRunning, kStationPaused, kStationStopping, kStationEnded };

// Their names in the server's answers: "waiting", "adapter-gone", ...
const char* PortStatusName(PortStatus status);
const char* StationStatusName(StationStatus status);

// The job, fixed before the ports start.
struct StationJobInfo {
    std::string job;          // "firmware", "profibus-id" or "read-id"
    std::string script;       // the firmware job's script, as named
    int64_t scriptBytes = -1; // -1: no script
    std::string scriptSha256;
    int profibusId = -1; // the Profibus-ID job's new ID; -1: none
    std::string startedUtc;
    std::string run;     // the run's identity (NewRunId); empty in tests that need none
    std::string logFile; // empty: no log
    std::string station; // the station's name
    std::string order;   // the work order or lot; empty: none given
    std::string operatorName;
    int alarmAfter = 0; // failures in a row on one port that raise its alarm; 0: never
};

// A module done, numbered in the order the station took it, from 1.
struct ModuleRecord {
    int64_t sequence = 0;
    std::string run; // the station's run (StationJobInfo::run)
    size_t portIndex = 0;
    ModuleLogLine line;      // the log's columns
    RunReport report{};      // the run's report
    std::string result;      // the run's result line
    std::string outcomeText; // the outcome as the station tells it
    ULONGLONG endMs = 0;     // when it ended (GetTickCount64)
};

// One port as a reader sees it.
struct PortSnapshot {
    int port = 0;
    PortStatus status = kPortWaiting;
    std::string step; // the step under way, or what the port waits for
    int32_t sent = 0; // script bytes sent of size; size 0 outside a download
    int32_t size = 0;
    ULONGLONG downloadStartMs = 0;
    int modules = 0;
    int failed = 0;
    double seconds = 0;       // the time its modules took
    int64_t lastSequence = 0; // of its last module; 0 before the first
    int failedInRow = 0;      // its modules that failed since the last that passed
    bool alarm = false;       // failedInRow has reached the job's alarmAfter
};

struct StationTotals {
    int64_t modules = 0;
    int64_t passed = 0;
    int64_t failed = 0;
    int64_t sequence = 0; // of the last module record
};

class StationState {
  public:
    // The records a station holds: the last of them; older ones are in the log.
    enum : size_t { kRecordsHeld = 10000 };

    StationState(const std::vector<int16_t>& ports, const StationJobInfo& job,
                 size_t recordsHeld = kRecordsHeld);
    StationState(const StationState&) = delete;
    StationState& operator=(const StationState&) = delete;

    const StationJobInfo& Job() const {
        return job_;
    }
    size_t PortCount() const {
        return ports_.size();
    }

    // A port's thread, for its own port only.
    void SetStatus(size_t index, PortStatus status);
    void SetStep(size_t index, const std::string& step);
    // A download's progress: sent of size script bytes; size 0 ends it.
    void SetProgress(size_t index, int32_t sent, int32_t size);
    // The port's lines for the display (steps, notices, tenths).
    LineRing& PortLines(size_t index) {
        return ports_[index]->lines;
    }

    // The main thread.
    // Numbers the record, counts it for its port and the totals.
    int64_t AddRecord(ModuleRecord record);
    void SetStationStatus(StationStatus status);
    // The station's own lines (outcomes' notes, requests, the log's state).
    LineRing& StationLines() {
        return stationLines_;
    }
    // The log's thread: why the log cannot be written and how many rows
    // wait; empty: it can.
    void SetLogProblem(const std::string& text);
    // A publisher's thread (the one that sends the records to the plant's
    // broker): why the broker does not take them; empty: it does.
    void SetBrokerProblem(const std::string& text) {
        brokerProblem_.Set(text);
    }

    // Any thread. A pause lets the modules under way finish, then no port
    // takes a new module until it is resumed.
    void SetPaused(bool paused);
    bool Paused() const {
        return paused_.load();
    }

    // Readers.
    PortSnapshot Port(size_t index) const;
    // The port's status alone; what its own thread may read without a lock.
    PortStatus StatusOf(size_t index) const {
        return static_cast<PortStatus>(ports_[index]->status.load());
    }
    const LineRing& PortLines(size_t index) const {
        return ports_[index]->lines;
    }
    const LineRing& StationLines() const {
        return stationLines_;
    }
    StationStatus Status() const;
    StationTotals Totals() const;
    std::string LogProblem() const {
        return logProblem_.Get();
    }
    std::string BrokerProblem() const {
        return brokerProblem_.Get();
    }
    // The records held after sequence, in order, at most most of them.
    std::vector<ModuleRecord> RecordsAfter(int64_t sequence, size_t most = SIZE_MAX) const;
    // The oldest sequence held: 1 until more records than are held were
    // added, the next sequence while none is held.
    int64_t FirstHeld() const;
    // The record of sequence, if held or a port's last; false when not.
    bool RecordOf(int64_t sequence, ModuleRecord* record) const;

  private:
    struct PortPart {
        int port = 0;
        std::atomic<int> status{kPortWaiting};
        SharedText step;
        // A download's sent (low half) and size (high half), in one word so
        // that a reader never sees them from two moments.
        std::atomic<uint64_t> progress{0};
        std::atomic<ULONGLONG> downloadStartMs{0};
        // The port's counts: the main thread writes them with the records,
        // under the records' lock, and a reader copies them under it, so
        // that they belong together.
        int modules = 0;
        int failed = 0;
        int64_t milliseconds = 0;
        int64_t lastSequence = 0;
        int failedInRow = 0;
        LineRing lines;
    };
    StationJobInfo job_;
    std::vector<std::unique_ptr<PortPart>> ports_;
    std::atomic<int> status_{kStationRunning};
    std::atomic<bool> paused_{false};
    LineRing stationLines_;
    SharedText logProblem_;
    SharedText brokerProblem_;

    const size_t recordsHeld_;
    mutable std::mutex recordsLock_;
    std::deque<ModuleRecord> records_;
    std::vector<ModuleRecord> lastOfPort_; // each port's last record, also when no longer held
    StationTotals totals_;
};
