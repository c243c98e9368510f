// The station's state as the server gives it: JSON objects of a module
// record, a port and the station, and the events of the event stream. Every
// text goes out as JSON text, whatever bytes a device sent (bytes that are
// not UTF-8 become U+FFFD), so a client never gets markup or a broken stream.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "station_state.h"

// A port's name as the log writes it: "COM3", or "auto" for a run on any port.
std::string PortName(int port);

// A download's progress in percent, to the tenth below: 37.4 for 374 of
// 1000 bytes; null outside a download.
nlohmann::json PercentOf(int32_t sent, int32_t size);
// The same in tenths (0 to 1000), -1 outside a download.
int TenthsOf(int32_t sent, int32_t size);

// A module record: "sequence", "run" and the log's columns by the log's
// names, numbers the log leaves empty as null.
nlohmann::json RecordJson(const ModuleRecord& record);

// A port: port, state, step, percent, modules, failed, failed_in_row, alarm,
// last (its last module record, or null: last is nullptr).
nlohmann::json PortJson(const PortSnapshot& port, const ModuleRecord* last);

// The station without its ports: the job, the state, the totals, and the
// seconds since it started (for modules per hour).
nlohmann::json StationJson(const StationJobInfo& job, StationStatus status,
                           const StationTotals& totals, int64_t elapsedSeconds);

// The station without its ports as it stands now, with "alarm": the names
// of the ports in alarm.
nlohmann::json StationHead(const StationState& state);

// The whole station as it stands now: StationJson with "ports".
nlohmann::json StationNow(const StationState& state);

// Whole seconds from one UTC time to another ("2026-12-08T09:15:02Z"); -1
// when either is not such a time.
int64_t SecondsBetween(const std::string& fromUtc, const std::string& toUtc);

// The JSON's text on one line, bytes that are not UTF-8 replaced.
std::string JsonText(const nlohmann::json& value);

// An event of the event stream: "event: TYPE", "id: ID" when id is given,
// the data on one line, and the blank line that ends it.
std::string EventText(const char* type, const nlohmann::json& data, const std::string& id = "");
