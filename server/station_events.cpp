#include "station_events.h"

#include "record_paging.h"
#include "station_json.h"

using nlohmann::json;

std::string ModuleEvent(const ModuleRecord& record) {
    return EventText("module", RecordJson(record), EventId(record.run, record.sequence));
}

EventWatch::EventWatch(const StationState& state, DWORD portGapMs)
    : state_(state), portGapMs_(portGapMs), ports_(state.PortCount()) {}

json EventWatch::PortObject(size_t index, PortSnapshot* snapshot) {
    *snapshot = state_.Port(index);
    PortMemo& memo = ports_[index];
    // The port's last record is read once, when it changes.
    if (snapshot->lastSequence != memo.lastSequence) {
        ModuleRecord last;
        if (state_.RecordOf(snapshot->lastSequence, &last)) {
            memo.last = RecordJson(last);
            memo.lastSequence = snapshot->lastSequence;
        }
    }
    json port = PortJson(*snapshot, nullptr);
    if (snapshot->lastSequence > 0 && memo.lastSequence == snapshot->lastSequence) {
        port["last"] = memo.last;
    }
    return port;
}

std::vector<std::string> EventWatch::Changes(ULONGLONG nowMs, bool last) {
    std::vector<std::string> events;
    const StationStatus status = state_.Status();
    const int64_t sequence = state_.Totals().sequence;
    if (!stationTold_ || status != status_ || sequence != sequence_) {
        stationTold_ = true;
        status_ = status;
        sequence_ = sequence;
        events.push_back(EventText("station", StationHead(state_)));
    }
    for (size_t index = 0; index < ports_.size(); ++index) {
        PortMemo& memo = ports_[index];
        if (memo.told && nowMs - memo.toldMs < portGapMs_ && !last) {
            continue;
        }
        PortSnapshot now;
        const json port = PortObject(index, &now);
        const int tenths = now.status == kPortProgramming ? TenthsOf(now.sent, now.size) : -1;
        if (memo.told && memo.status == now.status && memo.step == now.step &&
            memo.tenths == tenths && memo.modules == now.modules && memo.failed == now.failed) {
            continue;
        }
        memo.told = true;
        memo.status = now.status;
        memo.step = now.step;
        memo.tenths = tenths;
        memo.modules = now.modules;
        memo.failed = now.failed;
        memo.toldMs = nowMs;
        events.push_back(EventText("port", port));
    }
    return events;
}

std::vector<std::string> EventWatch::Opening() {
    std::vector<std::string> events = {EventText("station", StationHead(state_))};
    for (size_t index = 0; index < ports_.size(); ++index) {
        PortSnapshot snapshot;
        events.push_back(EventText("port", PortObject(index, &snapshot)));
    }
    return events;
}
