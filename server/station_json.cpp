#include "station_json.h"

#include <cmath>
#include <cstdio>

using nlohmann::json;

namespace {

json NumberOrNull(int64_t value) {
    return value < 0 ? json(nullptr) : json(value);
}

// Days since 1970-01-01 of a date of the Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool SecondsOf(const std::string& utc, int64_t* seconds) {
    unsigned year, month, day, hour, minute, second;
    char zone = 0, end = 0;
    if (sscanf(utc.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c%c", &year, &month, &day, &hour, &minute,
               &second, &zone, &end) != 7 ||
        zone != 'Z' || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return false;
    }
    *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

} // namespace

std::string PortName(int port) {
    return port > 0 ? "COM" + std::to_string(port) : "auto";
}

int TenthsOf(int32_t sent, int32_t size) {
    if (size <= 0) {
        return -1;
    }
    const int64_t tenths = static_cast<int64_t>(sent < 0 ? 0 : sent) * 1000 / size;
    return static_cast<int>(tenths > 1000 ? 1000 : tenths);
}

json PercentOf(int32_t sent, int32_t size) {
    const int tenths = TenthsOf(sent, size);
    return tenths < 0 ? json(nullptr) : json(tenths / 10.0);
}

json RecordJson(const ModuleRecord& record) {
    const ModuleLogLine& line = record.line;
    return json{{"sequence", record.sequence},
                {"run", record.run},
                {"time_utc", line.timeUtc},
                {"port", PortName(line.port)},
                {"job", line.job},
                {"script", line.scriptName},
                {"script_bytes", NumberOrNull(line.scriptSize)},
                {"script_sha256", line.scriptSha256},
                {"old_profibus_id", NumberOrNull(line.oldProfibusId)},
                {"new_profibus_id", NumberOrNull(line.newProfibusId)},
                {"startup_output", line.startup},
                {"exit_status", line.exitStatus},
                {"outcome", line.outcome},
                {"detail", line.detail},
                // To the tenth, as the log has it.
                {"seconds", std::round(line.seconds * 10) / 10},
                {"station", line.station},
                {"order", line.order},
                {"operator", line.operatorName}};
}

json PortJson(const PortSnapshot& port, const ModuleRecord* last) {
    const bool downloading = port.status == kPortProgramming && port.size > 0;
    return json{{"port", PortName(port.port)},
                {"state", PortStatusName(port.status)},
                {"step", port.step},
                {"percent", downloading ? PercentOf(port.sent, port.size) : json(nullptr)},
                {"modules", port.modules},
                {"failed", port.failed},
                {"failed_in_row", port.failedInRow},
                {"alarm", port.alarm},
                {"last", last != nullptr ? RecordJson(*last) : json(nullptr)}};
}

json StationJson(const StationJobInfo& job, StationStatus status, const StationTotals& totals,
                 int64_t elapsedSeconds) {
    return json{{"station", job.station},
                {"order", job.order},
                {"operator", job.operatorName},
                {"alarm_after", job.alarmAfter},
                {"job", job.job},
                {"script", job.script},
                {"script_bytes", NumberOrNull(job.scriptBytes)},
                {"script_sha256", job.scriptSha256},
                {"profibus_id", NumberOrNull(job.profibusId)},
                {"state", StationStatusName(status)},
                {"started_utc", job.startedUtc},
                {"run", job.run},
                {"elapsed_seconds", elapsedSeconds < 0 ? 0 : elapsedSeconds},
                {"modules", totals.modules},
                {"passed", totals.passed},
                {"failed", totals.failed},
                {"sequence", totals.sequence}};
}

json StationHead(const StationState& state) {
    json station = StationJson(state.Job(), state.Status(), state.Totals(),
                               SecondsBetween(state.Job().startedUtc, UtcNowText()));
    // The ports in alarm, by name.
    json alarm = json::array();
    for (size_t index = 0; index < state.PortCount(); ++index) {
        const PortSnapshot port = state.Port(index);
        if (port.alarm) {
            alarm.push_back(PortName(port.port));
        }
    }
    station["alarm"] = std::move(alarm);
    return station;
}

json StationNow(const StationState& state) {
    json station = StationHead(state);
    json ports = json::array();
    for (size_t index = 0; index < state.PortCount(); ++index) {
        const PortSnapshot port = state.Port(index);
        ModuleRecord last;
        const bool haveLast = state.RecordOf(port.lastSequence, &last);
        ports.push_back(PortJson(port, haveLast ? &last : nullptr));
    }
    station["ports"] = std::move(ports);
    return station;
}

int64_t SecondsBetween(const std::string& fromUtc, const std::string& toUtc) {
    int64_t from = 0, to = 0;
    if (!SecondsOf(fromUtc, &from) || !SecondsOf(toUtc, &to)) {
        return -1;
    }
    return to - from;
}

std::string JsonText(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string EventText(const char* type, const json& data, const std::string& id) {
    std::string text = std::string("event: ") + type + "\n";
    if (!id.empty()) {
        text += "id: " + id + "\n";
    }
    return text + "data: " + JsonText(data) + "\n\n";
}
