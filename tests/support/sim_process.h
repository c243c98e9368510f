// Test support: a simulated module as a korvan-sim.exe process on a port,
// switched on from its console, with the trace of what it received.
#pragma once

#include <string>

#include "support/console_process.h"

struct Module {
    ConsoleProcess process;
    std::string trace;
    // options: korvan-sim's own ("--station 7", "--config-length 62").
    bool Start(int port, const std::string& options);
    void PowerOn();
    // What it received; ends it (and so its trace).
    std::string Received();
    ~Module();
};
