// The production station timed: korvan-cli.exe on several ports at once
// against korvan-sim.exe modules paced at 9600 baud, one per cable; then
// the same station serving clients (serve_bench.h).
#pragma once

#include "paced_station.h"

// Prints the figures; 0 when every run succeeded. idleSeconds: how long the
// serving station waits for modules with its idle clients.
int RunStationBench(const Cables& cables, int idleSeconds);
