// korvan-cli --check: the station's settings checked without running it.
// Every file they name is tried (the script loaded, the log opened, made
// with its header when new), every port looked up among the PC's ports; no
// port is opened and nothing is sent. What the station would do goes to
// standard output, each problem to standard error.
#pragma once

#include "command_line.h"
#include "station.h"

// 0 when the station could run as set, else kUsageError. The script is
// loaded into scriptSlot and released again.
int CheckStation(const CommandLine& line, const StationJob& job, int16_t scriptSlot);
