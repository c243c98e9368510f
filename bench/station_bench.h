// The production station timed: korvan-cli.exe on several ports at once
// against korvan-sim.exe modules paced at 9600 baud, one per cable.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

// cables: (tool's port, module's port). Prints the figures; 0 when every
// run succeeded.
int RunStationBench(const std::vector<std::pair<int16_t, int16_t>>& cables);

// The seconds of a thread's or process's kernel and user times together.
double CpuSecondsOf(const FILETIME& kernel, const FILETIME& user);
