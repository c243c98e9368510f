// korvan-cli's command line, read with CLI11: its options and jobs, its
// help, and the one line of a command line it cannot use.
#pragma once

#include <string>
#include <vector>

#include "run_face.h"

// The exit status of a command line that cannot be used.
enum : int { kUsageError = 1 };

// The service commands, and the station run by the service manager.
enum ServiceAction { kNoService, kServiceInstall, kServiceRemove, kServiceStatus, kServiceRun };

// What the command line asks for.
struct CommandLine {
    std::vector<int> ports; // port numbers, or kAnyPort; in the order given
    std::string traceFile;
    int waitStartSeconds = 60;
    bool repeat = false;
    int count = 0;
    bool countGiven = false;
    std::string logFile;
    std::string stopEvent;
    std::string serve;                   // [ADDRESS:]PORT; empty: no server
    std::string serveTokenFile;          // the secret's file; empty: none
    std::vector<std::string> serveHosts; // further names the Host header may carry
    std::string stationName;             // --station; empty: the PC's name
    std::string order;                   // --order; empty: none
    std::string operatorName;            // --operator; empty: none
    int alarmAfter = 3;                  // --alarm-after; 0: no alarm
    std::string mqtt;                    // HOST[:PORT] of the plant's broker; empty: none
    std::string mqttTopic;               // the topics' prefix; empty: korvan/STATION
    std::string mqttCredentials;         // the login's file; empty: none
    bool listPorts = false;
    bool jobGiven = false;
    RunMode mode = kFirmwareMode;
    std::string scriptFile; // firmware: in UTF-8
    int profibusId = 0;
    std::string configFile; // --config: the settings file, as given
    bool check = false;     // --check: the settings checked, nothing run
    ServiceAction service = kNoService;
    std::string serviceName; // service install/remove/status NAME, or --service NAME
};

// Reads the arguments as wmain gets them (UTF-16). -1 when the program is to
// go on with *line; else its exit status: 0 after --help or --version (their
// text written), kUsageError after a usage error (its line written).
int ReadCommandLine(int argc, wchar_t** wideArgv, CommandLine* line);

// Writes the one line of a command line that cannot be used, and gives
// kUsageError: "korvan-cli: PROBLEM (see korvan-cli --help)".
int UsageError(const std::string& problem);

// The problem of the last usage error (for a service, whose standard error
// goes nowhere until it runs); empty when there was none.
const std::string& LastUsageProblem();

// A UTF-16 text in UTF-8, as CLI11 and the program's 8-bit calls take it.
std::string Utf8Of(const wchar_t* text);
