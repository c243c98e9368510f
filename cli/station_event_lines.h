// Which of the station's plain lines the Windows event log gets, and as
// which message of the program's message table (event_messages.mc): the
// station's page being served, a port's adapter gone and back, the log not
// written and written again, an alarm, the broker lost and reached again,
// and the station's own problems. A module's outcome, a download's
// progress and a port's ready line are no events: the log and the page
// hold them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StationEvent {
    uint32_t id = 0;                  // a message of event_messages.mc
    uint16_t type = 0;                // EVENTLOG_INFORMATION_TYPE, _WARNING_TYPE or _ERROR_TYPE
    std::vector<std::string> inserts; // %1, %2, ... in UTF-8
};

// What the lines before told: the log's trouble is one event until it is
// over, however its count of waiting rows grows.
struct EventLineState {
    bool logFailing = false;
};

// The event of a plain line (without its line end); false when it is none.
bool EventOfLine(const std::string& line, EventLineState* state, StationEvent* event);

// What an exit status of korvan-cli's tells, for the station's last event.
std::string ExitStatusText(int status);
