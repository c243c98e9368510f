// What the event streams are told of the station's changes: a "station"
// event when its state or totals change, a "port" event when a port's state,
// step, tenth of a percent or counts change (at most one a port every
// portGapMs), a "module" event for each record. The server looks at the
// state every few tens of milliseconds and sends what this gives.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "station_state.h"

// A record's event, with its run and sequence as the event's id (EventId).
std::string ModuleEvent(const ModuleRecord& record);

class EventWatch {
  public:
    EventWatch(const StationState& state, DWORD portGapMs);

    // The events due at nowMs, against what the last call gave; last: the
    // server ends, every change goes out now.
    std::vector<std::string> Changes(ULONGLONG nowMs, bool last = false);
    // What a new stream begins with: the station and each port as they stand.
    std::vector<std::string> Opening();

  private:
    struct PortMemo {
        bool told = false;
        PortStatus status = kPortWaiting;
        std::string step;
        int tenths = -1;
        int modules = 0;
        int failed = 0;
        ULONGLONG toldMs = 0;
        int64_t lastSequence = 0; // of the record in last
        nlohmann::json last;
    };
    nlohmann::json PortObject(size_t index, PortSnapshot* snapshot);

    const StationState& state_;
    const DWORD portGapMs_;
    std::vector<PortMemo> ports_;
    bool stationTold_ = false;
    StationStatus status_ = kStationRunning;
    int64_t sequence_ = 0;
};
