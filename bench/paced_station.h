// korvan-cli.exe as a production station for the benchmark: on the tool's
// ends of the cables, with a korvan-sim.exe process paced at 9600 baud on
// each far end (or no module at all, for a station that only waits).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/console_process.h"

using Cables = std::vector<std::pair<int16_t, int16_t>>; // (tool's port, module's port)

struct StationRun {
    bool ok = false;
    double wallSeconds = 0; // from the modules' power-on to the tool's end
    double cpuSeconds = 0;  // the tool's
};

class PacedStation {
  public:
    // Starts a module on each cable's far end (with modules), then
    // korvan-cli.exe --port with the tool's ends and arguments (options and
    // job). True once the tool asks for the OFF/ON switch: its ports are open.
    bool Start(const Cables& cables, const std::string& arguments, bool modules = true);
    // Switches every module on; the station's time runs from here.
    void PowerOn();
    ConsoleProcess& Module(size_t index) {
        return *modules_[index];
    }
    size_t Modules() const {
        return modules_.size();
    }
    ConsoleProcess& Tool() {
        return cli_;
    }
    // Milliseconds since PowerOn.
    double Ms() const;
    // Waits for the tool's end, then ends the modules. ok: it ended with 0.
    StationRun Finish();

  private:
    std::vector<std::unique_ptr<ConsoleProcess>> modules_;
    ConsoleProcess cli_;
    std::chrono::steady_clock::time_point poweredOn_;
};

// The seconds of a thread's or process's kernel and user times together.
double CpuSecondsOf(const FILETIME& kernel, const FILETIME& user);
// A process's CPU seconds so far.
double ProcessCpuSeconds(HANDLE process);
