// The production station timed: korvan-cli.exe on several ports at once
// against korvan-sim.exe modules paced at 9600 baud, one per cable; then
// the same station serving clients (serve_bench.h).
#pragma once

#include "paced_station.h"

// Prints the figures; 0 when every run succeeded. idleSeconds: how long the
// serving station waits for modules with its idle clients. brokerPort > 0:
// one module alone, then (k) with the broker on that loopback port instead
// of (h)'s and (j)'s runs on every cable.
int RunStationBench(const Cables& cables, int idleSeconds, int brokerPort);
