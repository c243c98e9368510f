// The rows of a production station's log: one CSV line per module (RFC
// 4180: fields with a comma, a quote or a line break in quotes, quotes
// doubled; lines end in CR LF) under a header line. A spreadsheet opens it
// as it is: a new file begins with UTF-8's byte-order mark, so that names
// beyond ASCII show as written, and no field is taken for a formula.
#pragma once

#include <cstdint>
#include <string>

#include "log_stamps.h"

struct ModuleLogLine {
    std::string timeUtc; // ISO 8601, "2026-12-08T09:15:02Z": when the module's run began
    int port = 0;
    std::string job; // "firmware", "profibus-id" or "read-id"
    std::string scriptName;
    int64_t scriptSize = -1;  // -1: no script (the Profibus-ID jobs)
    std::string scriptSha256; // lower-case hexadecimal
    int oldProfibusId = -1;   // -1: not read
    int newProfibusId = -1;   // -1: none set
    std::string startup;      // the module's start-up output before its banner
    int exitStatus = 0;
    std::string outcome; // the result text, without its blanks around
    std::string detail;
    double seconds = 0;
    std::string station;      // the station's name
    std::string order;        // the work order or lot; empty: none given
    std::string operatorName; // empty: none given
};

// The log's first line, and the byte-order mark before it in a new file.
extern const char kModuleLogHeader[];
// The first line of a log begun by an earlier version, without the columns
// that name the station, the order and the operator. Such a log keeps its
// columns: its rows leave them out.
extern const char kModuleLogHeaderBefore[];
extern const char kUtf8ByteOrderMark[];

// One field as RFC 4180 wants it. A field that a spreadsheet would run as a
// formula (one that begins with =, +, -, @, a tab or a carriage return: a
// device's start-up output, a file's name) gets a leading apostrophe, which
// the spreadsheet shows as text.
std::string CsvField(const std::string& text);

// Why a log whose text begins with start (its first bytes) cannot take our
// lines: its header names other columns. Empty when it can (an empty file,
// or our header or the earlier one, with or without the byte-order mark).
std::string LogHeaderProblem(const std::string& start);
// Whether a log whose text begins with start has the earlier header.
bool HasHeaderBefore(const std::string& start);

// The line of a module, with its CR LF; without the columns that the
// earlier header lacks when before is set.
std::string CsvLine(const ModuleLogLine& line, bool before = false);
