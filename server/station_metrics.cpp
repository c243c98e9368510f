#include "station_metrics.h"

#include <cstdio>

#include "mqtt_option.h"
#include "station_json.h"

const double kModuleSecondsBounds[10] = {0.5, 1, 2, 5, 10, 20, 30, 60, 120, 300};

namespace {

const PortStatus kAllStatuses[] = {kPortWaiting, kPortDetecting,   kPortProgramming, kPortPassed,
                                   kPortFailed,  kPortAdapterGone, kPortPaused,      kPortEnded};

std::string Escaped(const std::string& value) {
    std::string text;
    for (char c : value) {
        if (c == '\\' || c == '"') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text;
}

std::string Number(double value) {
    char text[40];
    snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void Family(std::string* text, const char* name, const char* type, const char* help) {
    *text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Sample(std::string* text, const std::string& name, const std::string& labels,
            const std::string& value) {
    *text += name + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
}

} // namespace

std::string MetricsText(const MetricsInput& input) {
    const std::string station = "station=\"" + Escaped(input.station) + "\"";
    std::vector<std::string> ports;
    for (const PortMetrics& port : input.ports) {
        ports.push_back(station + ",port=\"" + Escaped(port.port) + "\"");
    }
    std::string text;
    Family(&text, "korvan_up", "gauge", "1 while the station runs.");
    Sample(&text, "korvan_up", station, "1");
    Family(&text, "korvan_run_info", "gauge", "The station's run: a new run at each start.");
    Sample(&text, "korvan_run_info", station + ",run=\"" + Escaped(input.run) + "\"", "1");
    Family(&text, "korvan_modules_total", "counter", "Modules done, by port and outcome.");
    for (size_t k = 0; k < input.ports.size(); ++k) {
        const PortCounts& counts = input.ports[k].counts;
        Sample(&text, "korvan_modules_total", ports[k] + ",outcome=\"passed\"",
               std::to_string(counts.passed));
        Sample(&text, "korvan_modules_total", ports[k] + ",outcome=\"failed\"",
               std::to_string(counts.failed));
        Sample(&text, "korvan_modules_total", ports[k] + ",outcome=\"cut-short\"",
               std::to_string(counts.cutShort));
    }
    Family(&text, "korvan_module_seconds", "histogram",
           "A module's time from its switching on to its outcome, by port.");
    for (size_t k = 0; k < input.ports.size(); ++k) {
        const PortCounts& counts = input.ports[k].counts;
        int64_t cumulated = 0;
        for (size_t b = 0; b < 10; ++b) {
            cumulated += counts.buckets[b];
            Sample(&text, "korvan_module_seconds_bucket",
                   ports[k] + ",le=\"" + Number(kModuleSecondsBounds[b]) + "\"",
                   std::to_string(cumulated));
        }
        const int64_t all = counts.passed + counts.failed + counts.cutShort;
        Sample(&text, "korvan_module_seconds_bucket", ports[k] + ",le=\"+Inf\"",
               std::to_string(all));
        Sample(&text, "korvan_module_seconds_sum", ports[k], Number(counts.secondsSum));
        Sample(&text, "korvan_module_seconds_count", ports[k], std::to_string(all));
    }
    Family(&text, "korvan_port_state", "gauge",
           "1 for the state the port is in, 0 for the others.");
    for (size_t k = 0; k < input.ports.size(); ++k) {
        for (PortStatus status : kAllStatuses) {
            Sample(&text, "korvan_port_state",
                   ports[k] + ",state=\"" + PortStatusName(status) + "\"",
                   input.ports[k].status == status ? "1" : "0");
        }
    }
    Family(&text, "korvan_port_alarm", "gauge", "1 while the port's alarm is raised.");
    for (size_t k = 0; k < input.ports.size(); ++k) {
        Sample(&text, "korvan_port_alarm", ports[k], std::to_string(input.ports[k].alarm));
    }
    Family(&text, "korvan_script_bytes_sent_total", "counter",
           "Firmware script bytes sent to modules, by port.");
    for (size_t k = 0; k < input.ports.size(); ++k) {
        Sample(&text, "korvan_script_bytes_sent_total", ports[k],
               std::to_string(input.ports[k].counts.bytesSent));
    }
    Family(&text, "korvan_log_rows_waiting", "gauge", "Log rows not yet written to the log file.");
    Sample(&text, "korvan_log_rows_waiting", station, std::to_string(input.logRowsWaiting));
    Family(&text, "korvan_mqtt_records_waiting", "gauge",
           "Module records the MQTT broker has not accepted yet (0 without a broker).");
    Sample(&text, "korvan_mqtt_records_waiting", station,
           std::to_string(input.mqttRecordsWaiting < 0 ? 0 : input.mqttRecordsWaiting));
    return text;
}

void MetricsTally::Update(const StationState& state) {
    for (const ModuleRecord& record : state.RecordsAfter(sequence_)) {
        sequence_ = record.sequence;
        if (record.portIndex >= ports_.size()) {
            continue;
        }
        PortTally& port = ports_[record.portIndex];
        PortCounts& counts = port.counts;
        const int status = record.line.exitStatus;
        ++(status == 0                 ? counts.passed
           : status == kRunInterrupted ? counts.cutShort
                                       : counts.failed);
        size_t bucket = 0;
        while (bucket < 10 && record.line.seconds > kModuleSecondsBounds[bucket]) {
            ++bucket;
        }
        if (bucket < 10) {
            ++counts.buckets[bucket];
        }
        counts.secondsSum += record.line.seconds;
        // A download that succeeded sent its whole script, also the bytes
        // after the last look.
        if (status == 0 && record.line.scriptSize > port.sentSeen) {
            counts.bytesSent += record.line.scriptSize - port.sentSeen;
            port.sentSeen = static_cast<int32_t>(record.line.scriptSize);
        }
    }
    for (size_t index = 0; index < ports_.size(); ++index) {
        const PortSnapshot snapshot = state.Port(index);
        PortTally& port = ports_[index];
        if (snapshot.size <= 0) {
            continue;
        }
        if (snapshot.downloadStartMs != port.downloadMs) {
            port.downloadMs = snapshot.downloadStartMs;
            port.sentSeen = 0;
        }
        if (snapshot.sent > port.sentSeen) {
            port.counts.bytesSent += snapshot.sent - port.sentSeen;
            port.sentSeen = snapshot.sent;
        }
    }
}

std::string RunOf(const StationState& state) {
    return state.Job().run.empty() ? state.Job().startedUtc : state.Job().run;
}

int64_t RowsWaitingOf(const std::string& logProblem) {
    const size_t comma = logProblem.rfind(", ");
    long long rows = 0;
    if (comma == std::string::npos ||
        sscanf(logProblem.c_str() + comma, ", %lld row", &rows) != 1) {
        return 0;
    }
    return rows;
}

MetricsInput MetricsOf(const StationState& state, const MetricsTally& tally,
                       const MqttCondition* mqtt) {
    MetricsInput input;
    input.station = StationName(state);
    input.run = RunOf(state);
    for (size_t index = 0; index < state.PortCount(); ++index) {
        const PortSnapshot snapshot = state.Port(index);
        PortMetrics port;
        port.port = PortName(snapshot.port);
        port.status = snapshot.status;
        port.alarm = snapshot.alarm ? 1 : 0;
        port.counts = tally.Counts(index);
        input.ports.push_back(port);
    }
    input.logRowsWaiting = RowsWaitingOf(state.LogProblem());
    input.mqttRecordsWaiting = mqtt != nullptr ? mqtt->waiting.load() : -1;
    return input;
}
