// (j) The station of (h) serving its page's interface while the modules
// run: 16 clients on its event stream and one reading /api/station 10 times
// a second. The station's time against one module's alone, and how long a
// module's end takes to reach the clients as its event. Then the station
// waiting for modules with its 16 clients idle: the server's share of a
// core, against the same station without a server.
#pragma once

#include <string>

#include "paced_station.h"

// Prints the figures; 0 when every run succeeded and every client had
// every module.
int RunServeBench(const Cables& cables, const std::string& script, double oneModuleSeconds,
                  int idleSeconds);
