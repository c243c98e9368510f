// A run's identity: made once when a station starts, different from every
// other run of this PC's stations (a restart included), so that a client
// can tell one run's records from another's whose numbers are the same.
#pragma once

#include <cstddef>
#include <string>

// The start time in UTC ("2026-12-08T14:16:36Z") without its separators,
// a dash and 8 random hexadecimal digits: "20261208T141636Z-3f9a0c1e". It
// holds only letters, digits and dashes (an event id puts a dot after it).
std::string NewRunId(const std::string& startedUtc);

// Random bytes from the system's generator; false when it has none.
bool RandomBytes(unsigned char* bytes, size_t count);
