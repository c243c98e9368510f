#include "station_state.h"

const char* PortStatusName(PortStatus status) {
    switch (status) {
    case kPortWaiting:
        return "waiting";
    case kPortDetecting:
        return "detecting";
    case kPortProgramming:
        return "programming";
    case kPortPassed:
        return "passed";
    case kPortFailed:
        return "failed";
    case kPortAdapterGone:
        return "adapter-gone";
    case kPortPaused:
        return "paused";
    case kPortEnded:
        return "ended";
    }
    return "waiting";
}

const char* StationStatusName(StationStatus status) {
    switch (status) {
    case kStationRunning:
        return "running";
    case kStationPaused:
        return "paused";
    case kStationStopping:
        return "stopping";
    case kStationEnded:
        return "ended";
    }
    return "running";
}

StationState::StationState(const std::vector<int16_t>& ports, const StationJobInfo& job,
                           size_t recordsHeld)
    : job_(job), recordsHeld_(recordsHeld < 1 ? 1 : recordsHeld), lastOfPort_(ports.size()) {
    for (int16_t port : ports) {
        auto part = std::make_unique<PortPart>();
        part->port = port;
        ports_.push_back(std::move(part));
    }
}

void StationState::SetStatus(size_t index, PortStatus status) {
    ports_[index]->status.store(status);
}

void StationState::SetStep(size_t index, const std::string& step) {
    ports_[index]->step.Set(step);
}

void StationState::SetProgress(size_t index, int32_t sent, int32_t size) {
    PortPart& part = *ports_[index];
    const uint64_t before = part.progress.load();
    if (size > 0 && (before >> 32 == 0 || sent <= 1)) {
        part.downloadStartMs.store(GetTickCount64());
    }
    const uint32_t low = static_cast<uint32_t>(sent < 0 ? 0 : (sent > size ? size : sent));
    part.progress.store(static_cast<uint64_t>(static_cast<uint32_t>(size)) << 32 | low);
}

int64_t StationState::AddRecord(ModuleRecord record) {
    PortPart& part = *ports_[record.portIndex];
    const bool passed = record.report.outcome == kRunSucceeded;
    // A port that did not open has done no module: its record tells why.
    const bool module = record.report.outcome != kPortNotOpened;
    std::lock_guard<std::mutex> hold(recordsLock_);
    record.sequence = ++totals_.sequence;
    record.run = job_.run;
    if (module) {
        ++totals_.modules;
        ++(passed ? totals_.passed : totals_.failed);
        ++part.modules;
        part.failed += passed ? 0 : 1;
        part.milliseconds += static_cast<int64_t>(record.line.seconds * 1000 + 0.5);
        part.failedInRow = passed ? 0 : part.failedInRow + 1;
    }
    part.lastSequence = record.sequence;
    lastOfPort_[record.portIndex] = record;
    if (records_.size() == recordsHeld_) {
        records_.pop_front();
    }
    records_.push_back(std::move(record));
    return totals_.sequence;
}

void StationState::SetStationStatus(StationStatus status) {
    status_.store(status);
}

void StationState::SetLogProblem(const std::string& text) {
    logProblem_.Set(text);
}

void StationState::SetPaused(bool paused) {
    paused_.store(paused);
}

PortSnapshot StationState::Port(size_t index) const {
    const PortPart& part = *ports_[index];
    PortSnapshot snapshot;
    snapshot.port = part.port;
    snapshot.status = static_cast<PortStatus>(part.status.load());
    snapshot.step = part.step.Get();
    const uint64_t progress = part.progress.load();
    snapshot.size = static_cast<int32_t>(progress >> 32);
    snapshot.sent = static_cast<int32_t>(progress & 0xFFFFFFFFu);
    snapshot.downloadStartMs = part.downloadStartMs.load();
    std::lock_guard<std::mutex> hold(recordsLock_);
    snapshot.modules = part.modules;
    snapshot.failed = part.failed;
    snapshot.seconds = part.milliseconds / 1000.0;
    snapshot.lastSequence = part.lastSequence;
    snapshot.failedInRow = part.failedInRow;
    snapshot.alarm = job_.alarmAfter > 0 && part.failedInRow >= job_.alarmAfter;
    return snapshot;
}

StationStatus StationState::Status() const {
    const StationStatus status = static_cast<StationStatus>(status_.load());
    return status == kStationRunning && paused_.load() ? kStationPaused : status;
}

StationTotals StationState::Totals() const {
    std::lock_guard<std::mutex> hold(recordsLock_);
    return totals_;
}

std::vector<ModuleRecord> StationState::RecordsAfter(int64_t sequence, size_t most) const {
    std::vector<ModuleRecord> records;
    std::lock_guard<std::mutex> hold(recordsLock_);
    if (records_.empty()) {
        return records;
    }
    // Sequences run without gaps: record n is at n - the first held.
    const int64_t first = records_.front().sequence;
    const int64_t held = static_cast<int64_t>(records_.size());
    for (int64_t at = sequence < first ? 0 : sequence - first + 1;
         at < held && records.size() < most; ++at) {
        records.push_back(records_[static_cast<size_t>(at)]);
    }
    return records;
}

int64_t StationState::FirstHeld() const {
    std::lock_guard<std::mutex> hold(recordsLock_);
    return records_.empty() ? totals_.sequence + 1 : records_.front().sequence;
}

bool StationState::RecordOf(int64_t sequence, ModuleRecord* record) const {
    std::lock_guard<std::mutex> hold(recordsLock_);
    if (!records_.empty() && sequence >= records_.front().sequence &&
        sequence <= records_.back().sequence) {
        *record = records_[static_cast<size_t>(sequence - records_.front().sequence)];
        return true;
    }
    for (const ModuleRecord& last : lastOfPort_) {
        if (sequence > 0 && last.sequence == sequence) {
            *record = last;
            return true;
        }
    }
    return false;
}
