// (k) The station of (h) on every cable at once, serving 16 event streams,
// scraped every second and publishing to the MQTT broker at
// brokerHost:brokerPort (one on loopback, started by whoever runs the
// benchmark): the station's time against one module's, its CPU, and a
// module's log line to its message at a subscriber.
#pragma once

#include <string>

#include "paced_station.h"

// Prints the figures; 0 when the station succeeded and every record came.
int RunPlantBench(const Cables& cables, const std::string& script, double oneModuleSeconds,
                  const std::string& brokerHost, int brokerPort);
