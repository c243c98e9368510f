#include "log_rows.h"

#include <cstdio>
#include <cstring>

const char kModuleLogHeader[] =
    "time_utc,port,job,script,script_bytes,script_sha256,old_profibus_id,new_profibus_id,"
    "startup_output,exit_status,outcome,detail,seconds,station,order,operator\r\n";
const char kModuleLogHeaderBefore[] =
    "time_utc,port,job,script,script_bytes,script_sha256,old_profibus_id,new_profibus_id,"
    "startup_output,exit_status,outcome,detail,seconds\r\n";
const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

std::string CsvField(const std::string& field) {
    const bool formula = !field.empty() && field[0] != 0 && strchr("=+-@\t\r", field[0]) != nullptr;
    const std::string text = formula ? "'" + field : field;
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

namespace {

std::string NumberOrEmpty(int64_t value) {
    return value < 0 ? std::string() : std::to_string(value);
}

} // namespace

std::string CsvLine(const ModuleLogLine& line, bool before) {
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%.1f", line.seconds);
    const std::string fields[] = {line.timeUtc,
                                  line.port > 0 ? "COM" + std::to_string(line.port) : "auto",
                                  line.job,
                                  line.scriptName,
                                  NumberOrEmpty(line.scriptSize),
                                  line.scriptSha256,
                                  NumberOrEmpty(line.oldProfibusId),
                                  NumberOrEmpty(line.newProfibusId),
                                  line.startup,
                                  std::to_string(line.exitStatus),
                                  line.outcome,
                                  line.detail,
                                  seconds,
                                  line.station,
                                  line.order,
                                  line.operatorName};
    // The earlier header ends with seconds.
    const size_t count = before ? 13 : sizeof fields / sizeof fields[0];
    std::string text;
    for (size_t k = 0; k < count; ++k) {
        text += (k == 0 ? "" : ",") + CsvField(fields[k]);
    }
    return text + "\r\n";
}

namespace {

std::string WithoutByteOrderMark(const std::string& start) {
    return start.compare(0, 3, kUtf8ByteOrderMark) == 0 ? start.substr(3) : start;
}

bool BeginsWith(const std::string& text, const char* header) {
    return text.compare(0, strlen(header), header) == 0;
}

} // namespace

bool HasHeaderBefore(const std::string& start) {
    return BeginsWith(WithoutByteOrderMark(start), kModuleLogHeaderBefore);
}

std::string LogHeaderProblem(const std::string& start) {
    const std::string text = WithoutByteOrderMark(start);
    if (text.empty() || BeginsWith(text, kModuleLogHeader) ||
        BeginsWith(text, kModuleLogHeaderBefore)) {
        return "";
    }
    const std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
    return "its first line is not this program's header: \"" + firstLine.substr(0, 80) +
           (firstLine.size() > 80 ? "...\"" : "\"");
}
