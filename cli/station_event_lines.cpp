#include "station_event_lines.h"

#include <windows.h>

#include "event_messages.h"

namespace {

bool StartsWith(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// "COMn: ..." gives "COMn".
std::string PortOf(const std::string& line) {
    return line.substr(0, line.find(':'));
}

} // namespace

bool EventOfLine(const std::string& line, EventLineState* state, StationEvent* event) {
    const std::string program = "korvan-cli: ";
    const std::string said = StartsWith(line, program) ? line.substr(program.size()) : "";
    *event = StationEvent();
    if (StartsWith(line, "COM") && EndsWith(line, ": adapter gone, waiting for it")) {
        *event = {KORVAN_EVENT_ADAPTER_GONE, EVENTLOG_WARNING_TYPE, {PortOf(line)}};
    } else if (StartsWith(line, "COM") && EndsWith(line, ": adapter back")) {
        *event = {KORVAN_EVENT_ADAPTER_BACK, EVENTLOG_INFORMATION_TYPE, {PortOf(line)}};
    } else if (StartsWith(line, "COM") && EndsWith(line, " failed in a row")) {
        *event = {KORVAN_EVENT_ALARM, EVENTLOG_WARNING_TYPE, {line}};
    } else if (said.empty()) {
        return false;
    } else if (StartsWith(said, "serving ")) {
        *event = {KORVAN_EVENT_SERVING, EVENTLOG_INFORMATION_TYPE, {said.substr(8)}};
    } else if (StartsWith(said, "log not written: ")) {
        if (state->logFailing) {
            return false; // the same trouble, more rows waiting
        }
        state->logFailing = true;
        *event = {KORVAN_EVENT_LOG_NOT_WRITTEN, EVENTLOG_ERROR_TYPE, {said.substr(17)}};
    } else if (said == "the log is written again") {
        state->logFailing = false;
        *event = {KORVAN_EVENT_LOG_WRITTEN, EVENTLOG_INFORMATION_TYPE, {}};
    } else if (StartsWith(said, "broker not reached: ")) {
        *event = {KORVAN_EVENT_BROKER_LOST, EVENTLOG_WARNING_TYPE, {said.substr(20)}};
    } else if (said == "the broker takes the records again") {
        *event = {KORVAN_EVENT_BROKER_BACK, EVENTLOG_INFORMATION_TYPE, {}};
    } else {
        *event = {KORVAN_EVENT_PROBLEM, EVENTLOG_ERROR_TYPE, {said}};
    }
    return true;
}

std::string ExitStatusText(int status) {
    static const char* const kTexts[] = {
        "success",
        "the settings are not usable",
        "The Script file could not be loaded",
        "Error on opening the COM-Port",
        "Connected instrument is no Korvan module",
        "Korvan does not answer",
        "Korvan could not be programmed",
        "Configuration of Korvan module cannot be read",
        "Error in received configuration of Korvan module",
        "The run was interrupted",
        "a row never reached the log",
        "a record never reached the broker",
    };
    const int count = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
    return status >= 0 && status < count ? kTexts[status] : "exit status " + std::to_string(status);
}
