// The fuzz input of a module's record: its log columns one a line, in the
// log's order (time_utc, port, job, script, script_bytes, script_sha256,
// old_profibus_id, new_profibus_id, startup_output, exit_status, outcome,
// detail, seconds, station, order, operator); numbers as decimal text,
// missing lines empty. A line of
// a text may hold any bytes but a line feed.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "log_rows.h"

#define CHECK(condition)                                                                           \
    if (!(condition)) {                                                                            \
        fprintf(stderr, "broken: %s\n", #condition);                                               \
        abort();                                                                                   \
    }

inline std::vector<std::string> InputLines(const std::string& text, size_t count) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (lines.size() + 1 < count && at <= text.size()) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    lines.push_back(at <= text.size() ? text.substr(at) : "");
    lines.resize(count);
    return lines;
}

inline ModuleLogLine RecordOfLines(const std::string& text) {
    const std::vector<std::string> f = InputLines(text, 16);
    const auto number = [](const std::string& s) { return strtoll(s.c_str(), nullptr, 10); };
    ModuleLogLine line;
    line.timeUtc = f[0];
    line.port = static_cast<int>(number(f[1]));
    line.job = f[2];
    line.scriptName = f[3];
    line.scriptSize = number(f[4]);
    line.scriptSha256 = f[5];
    line.oldProfibusId = static_cast<int>(number(f[6]));
    line.newProfibusId = static_cast<int>(number(f[7]));
    line.startup = f[8];
    line.exitStatus = static_cast<int>(number(f[9]));
    line.outcome = f[10];
    line.detail = f[11];
    line.seconds = strtod(f[12].c_str(), nullptr);
    line.station = f[13];
    line.order = f[14];
    line.operatorName = f[15];
    return line;
}
