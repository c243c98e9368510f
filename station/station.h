// korvan-cli's runs: one module on one port (a single run), or a production
// station: one run per port, all at the same time, with one OFF/ON request
// for them all; with --repeat each port then programs module after module.
// Both are the same station, a single run being a station of one port that
// shows its steps as lines. Every module done gets a line with its outcome
// and, with --log, a line in the log; a stop (stop_signal.h) interrupts the
// runs under way and ends the station cleanly.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "module_log.h"
#include "run_face.h"
#include "station_state.h"

// Exit statuses beyond the runs' own outcomes.
enum : int {
    kExitInterrupted = kRunInterrupted, // a stop cut a module short, or came before any
    kExitLogFailed = 10,                // a log row never reached the file
};

// What a station does, from the command line.
struct StationJob {
    std::vector<int16_t> ports; // in command-line order; kAnyPort alone for a run on any port
    RunChoices choices{};       // the job's choices: mode, ID, script slot, trace, watched ports
    std::string scriptName;     // as given, for the log
    int64_t scriptSize = -1;    // -1: no script
    std::string scriptSha256;   // of the bytes loaded
    int32_t waitStartMs = 60000;
    std::string stationName;  // names the station in its records: --station, else the PC's name
    std::string order;        // --order: the work order or lot; empty: none
    std::string operatorName; // --operator; empty: none
    int alarmAfter = 3;       // failures in a row on a port that raise its alarm; 0: never
    bool repeat = false;
    int32_t count = 0; // with repeat: modules in all; 0 for no limit
    bool inputIsConsole = false;
    bool errorIsConsole = false;
    ModuleLog* log = nullptr; // nullptr: no log
    FILE* output = stdout;    // the success text, the station address, the summary
    FILE* errors = stderr;    // the steps, the progress, failures
    // On a console whose standard error goes elsewhere (a log file): the
    // console itself, which gets the OFF/ON request and the Enter line too.
    FILE* consoleCopy = nullptr;

    // One port, one module: the steps as lines, no summary.
    bool Single() const {
        return ports.size() == 1 && !repeat;
    }
};

// How a station ended.
struct StationEnd {
    int status = 0;
    // False when a port's thread had not ended within stationStopLimitMs of
    // the stop, or the display's thread was still held by the console when a
    // stop gave up on it: the caller must end the process without releasing
    // what those threads use (the script, the ports, the standard streams).
    bool threadsEnded = true;
};

// How long the runs may take to end once stopped: every wait of theirs is
// cut within some 50 ms, the closing of a port takes a few seconds at most.
// Process-wide so that a test can shorten it.
extern DWORD stationStopLimitMs;

// Runs the station to its end, leaving what it does in state (one of its
// own when state is nullptr; a given one has the job's ports, and readers
// such as a server may read it meanwhile). The status: a single run's is its
// outcome; with one module per port, 0 when every module succeeded, else the
// outcome of the first port, in command-line order, whose module did not (a
// stop that came before it started counts as kExitInterrupted); with
// --repeat, 0 when every module done succeeded, else the outcome of the
// first module, in time, that did not (a module cut short by the stop
// counts, a wait cut short does not). kExitLogFailed when a row never
// reached the log; kExitInterrupted when the stop came before anything
// began.
StationEnd RunStation(const StationJob& job, StationState* state = nullptr);

// What the station's state tells of the job.
StationJobInfo JobInfoOf(const StationJob& job);

// The job's name in the log: "firmware", "profibus-id" or "read-id".
const char* JobName(RunMode mode);

// The log line of a module's run.
ModuleLogLine LogLineOf(const StationJob& job, const RunReport& report, const std::string& result,
                        const std::string& startUtc, double seconds);

// The outcome text of a run as the station shows it: the result text
// without its blanks around, for read-id the station address read.
std::string OutcomeText(const StationJob& job, const RunReport& report, const std::string& result);

// A module (or a port's one module) that has ended, as the exit status
// counts it.
struct ModuleEnd {
    size_t portIndex; // the port's place on the command line
    int outcome;      // 0 for success, else the failure's status
    ULONGLONG endMs;  // when it ended
};

// The exit status of the modules ended (see RunStation), without the log's.
int StationExitStatus(const std::vector<ModuleEnd>& ends, bool repeat);
