// The command line of korvan-sim.exe, read with CLI11.
#pragma once

#include <cstdint>
#include <string>

#include "sim_options.h"

enum : int32_t {
    kSimEventNameCapacity = 64, // a named event of the session: up to 63 characters
};

struct SimProgramSettings {
    int16_t portNumber;     // 1 to 256
    int32_t powerOnAfterMs; // power on this long after the start; -1: only by command
    int32_t exitAfterMs;    // end this long after the start; -1: only by command
    int16_t ignoreInput;    // 1: standard input is not read
    int16_t showHelp;       // 1: --help was given
    char powerEventName[kSimEventNameCapacity]; // set by another program: power cycle; empty: none
    char quitEventName[kSimEventNameCapacity];  // set by another program: report and end
    SimOptions options;
};

// Fills settings from the arguments after the program name (argv[0] is
// skipped). 0 when they are valid; 1 with a one-line reason in error.
int16_t ParseSimArguments(int argc, const char* const* argv, SimProgramSettings* settings,
                          char* error, int32_t errorCapacity);

// The help: the port, the options in their groups and the console commands.
std::string SimHelpText();
