// The report as text for people.
#pragma once

#include <cstdint>

#include "sim_report.h"

enum : int32_t { kReportTextCapacity = 8192 };

// Writes the report as lines of text, NUL-terminated, cut to capacity;
// returns the length. Control bytes show as <0D>, long lists are shortened.
int32_t FormatSimReport(const SimReport* report, char* text, int32_t capacity);
