// korvan-demo-driver.exe: what one call is asked to do, from its command line
// (read with CLI11), and the result line that counts as success.
#pragma once

#include <cstdint>
#include <string>

enum DriverCommand : int16_t {
    kDriverRun = 1,      // one job on the tool's dialog, from START to the result line
    kDriverQuit = 2,     // press Quit and wait until the dialog is gone
    kDriverSetEvent = 3, // set a named event of the session (waits until it exists)
    kDriverHelp = 4,     // print the help
    kDriverChoose = 5,   // pick port, job and its file or ID in the dialog; no START
};

enum DriverJob : int16_t {
    kJobFirmware = 1,   // "Load new firmware into Korvan module"
    kJobProfibusId = 2, // "Set Profibus-ID into Korvan module"
};

enum : int32_t {
    kDriverFileNameCapacity = 100, // the tool takes file names of up to 99 characters
    kDriverEventNameCapacity = 64, // up to 63 characters
    kDriverDefaultTimeoutMs = 120000,
    kDriverLongestHoldMs = 600000, // --hold-prompt: at most 10 minutes
};

struct DriverSettings {
    int16_t command;                               // DriverCommand
    int16_t job;                                   // DriverJob (run, choose)
    int16_t portNumber;                            // 1 to 256 (run, choose); 1 unless --port
    int16_t profibusId;                            // 1 to 127 (Profibus-ID job)
    char fileName[kDriverFileNameCapacity];        // script file (firmware job)
    char powerEventName[kDriverEventNameCapacity]; // set at the prompt (run); empty: none
    char eventName[kDriverEventNameCapacity];      // the event to set (set-event)
    int32_t timeoutMs;    // longest wait for each thing that has to show up
    int32_t holdPromptMs; // how long the prompt box stands before the power cycle (run)
};

// Fills settings from the arguments after the program name. 0 when they are
// valid; 1 with a one-line reason in error.
int16_t ParseDriverArguments(int argc, const char* const* argv, DriverSettings* settings,
                             char* error, int32_t errorCapacity);

// The result line of a successful job, blanks included.
const char* SuccessTextOfJob(int16_t job);

// The help: every command with its options.
std::string DriverHelpText();
