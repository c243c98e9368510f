#include "log_rows.h"

#include <cstdio>
#include <cstring>

const char kModuleLogHeader[] =
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

std::string CsvLine(const ModuleLogLine& line) {
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
                                  seconds};
    // A comma between every two fields, also after an empty first one.
    std::string text;
    for (const std::string& field : fields) {
        text += (&field == fields ? "" : ",") + CsvField(field);
    }
    return text + "\r\n";
}

std::string LogHeaderProblem(const std::string& start) {
    std::string text = start;
    if (text.compare(0, 3, kUtf8ByteOrderMark) == 0) {
        text.erase(0, 3);
    }
    if (text.empty()) {
        return "";
    }
    const std::string header(kModuleLogHeader);
    if (text.compare(0, header.size(), header) == 0) {
        return "";
    }
    const std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
    return "its first line is not this program's header: \"" + firstLine.substr(0, 80) +
           (firstLine.size() > 80 ? "...\"" : "\"");
}
