// Test support: the least time a firmware run can take on a paced line.
#pragma once

#include <cstddef>
#include <cstdint>

// From the end of the OFF/ON request to the end of a successful firmware
// run of size script bytes against a module paced at baud that sends
// startupBytes (its banner included) when switched on: every byte on the wire
// in turn, both ways (the tool waits for each acknowledgement before it goes
// on), plus the waits and silences the procedure asks for.
double DownloadLowerBoundMs(size_t size, int32_t baud, int32_t startupBytes);
