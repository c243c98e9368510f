// The JSON that the server sends of a record, a port and the station, and
// its events: whatever bytes a device sent, the text always parses as JSON
// (bytes that are not UTF-8 become U+FFFD), keeps every text that was UTF-8
// as it was, and an event is its lines with the data on one line.
#include <cstdint>
#include <cstdio>
#include <string>

#include "record_lines.h"
#include "station_json.h"

using nlohmann::json;

namespace {

// True when the text is UTF-8 as the JSON library reads it.
bool IsUtf8(const std::string& text) {
    try {
        json(text).dump(); // refuses what is not UTF-8
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

json Reparsed(const std::string& text) {
    try {
        return json::parse(text);
    } catch (const json::exception& e) {
        fprintf(stderr, "does not parse (%s): %s\n", e.what(), text.c_str());
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ModuleRecord record;
    record.line = RecordOfLines(text);
    record.sequence = static_cast<int64_t>(size) * 7919 - 3;

    const json recordJson = RecordJson(record);
    const json back = Reparsed(JsonText(recordJson));
    CHECK(back.size() == recordJson.size());
    if (IsUtf8(record.line.startup)) {
        CHECK(back["startup_output"] == record.line.startup);
    }
    if (IsUtf8(record.line.detail)) {
        CHECK(back["detail"] == record.line.detail);
    }

    const std::string id =
        record.sequence > 0 ? record.run + "." + std::to_string(record.sequence) : "";
    const std::string event = EventText("module", recordJson, id);
    const std::string head =
        "event: module\n" + (id.empty() ? std::string() : "id: " + id + "\n") + "data: ";
    CHECK(event.compare(0, head.size(), head) == 0);
    CHECK(event.size() >= head.size() + 2 && event.compare(event.size() - 2, 2, "\n\n") == 0);
    const std::string dataLine = event.substr(head.size(), event.size() - head.size() - 2);
    CHECK(dataLine.find_first_of("\r\n") == std::string::npos);
    Reparsed(dataLine);

    PortSnapshot port;
    port.port = record.line.port;
    port.status = static_cast<PortStatus>(static_cast<unsigned>(record.line.exitStatus) % 8);
    port.step = record.line.outcome;
    port.sent = record.line.oldProfibusId;
    port.size = record.line.newProfibusId;
    const json portJson = Reparsed(JsonText(PortJson(port, &record)));
    const int tenths = TenthsOf(port.sent, port.size);
    CHECK(tenths >= -1 && tenths <= 1000);
    CHECK(portJson["percent"].is_null() || portJson["percent"].is_number());

    StationJobInfo job;
    job.job = record.line.job;
    job.script = record.line.scriptName;
    job.scriptBytes = record.line.scriptSize;
    job.startedUtc = record.line.timeUtc;
    StationTotals totals;
    Reparsed(JsonText(StationJson(job, kStationRunning, totals,
                                  SecondsBetween(record.line.timeUtc, record.line.detail))));
    return 0;
}
