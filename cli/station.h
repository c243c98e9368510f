// korvan-cli as a production station: one run per port, all at the same
// time, with one OFF/ON request for them all; with --repeat each port then
// programs module after module. Every module done gets a beep, a line with
// its outcome and, with --log, a line in the log. Ctrl+C interrupts the runs
// under way and ends the station cleanly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module_log.h"
#include "run_face.h"

// Exit statuses beyond the runs' own outcomes.
enum : int {
    kExitInterrupted = kRunInterrupted, // Ctrl+C (or Ctrl+Break) ended the runs
    kExitLogFailed = 10,                // a log line could not be written
};

// What a station (or a single run) does, from the command line.
struct StationJob {
    std::vector<int16_t> ports; // in command-line order
    RunMode mode = kFirmwareMode;
    int16_t profibusId = 0;
    int16_t scriptSlot = 0;   // firmware: the store's slot that holds the script
    std::string scriptName;   // as given, for the log
    int64_t scriptSize = -1;  // -1: no script
    std::string scriptSha256; // of the bytes loaded
    int32_t waitStartMs = 60000;
    bool repeat = false;
    int32_t count = 0; // with repeat: modules in all; 0 for no limit
    bool inputIsConsole = false;
    bool errorIsConsole = false;
    ModuleLog* log = nullptr; // nullptr: no log
};

// The job's name in the log: "firmware", "profibus-id" or "read-id".
const char* JobName(RunMode mode);

// The log line of a module's run.
ModuleLogLine LogLineOf(const StationJob& job, const RunReport& report, const std::string& result,
                        const std::string& startUtc, double seconds);

// The outcome text of a run as the station shows it: the result text
// without its blanks around, for read-id the station address read.
std::string OutcomeText(const StationJob& job, const RunReport& report, const std::string& result);

// Ctrl+C and Ctrl+Break interrupt every port of ports and set the station's
// stop flag, instead of ending the process.
void CatchInterrupts(const std::vector<int16_t>& ports);

// A line controller's way of pressing Ctrl+C: once another program sets the
// named event, the runs are interrupted as by Ctrl+C. Empty when the event
// could be made (or opened), else the system's reason.
std::string InterruptOnEvent(const std::string& eventName);

// Runs the station to its end and gives the exit status: 0 when every module
// succeeded, kExitInterrupted after Ctrl+C, kExitLogFailed when the log
// failed, else the status of the first port, in command-line order, that had
// a failure (its first).
int RunStation(const StationJob& job);
