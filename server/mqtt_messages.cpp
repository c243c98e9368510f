#include "mqtt_messages.h"

const char kOfflinePayload[] = "{\"state\":\"offline\"}";

std::string StateTopic(const std::string& prefix) {
    return prefix + "/state";
}

std::string PortTopic(const std::string& prefix, int port) {
    return prefix + "/port/" + (port > 0 ? "COM" + std::to_string(port) : "auto");
}

std::string ModuleTopic(const std::string& prefix) {
    return prefix + "/module";
}

std::string BrokerProblemText(const std::string& reason, int64_t waiting) {
    return "broker not reached: " + reason + ", " + std::to_string(waiting) +
           (waiting == 1 ? " record waiting" : " records waiting");
}

bool StationMark::operator==(const StationMark& other) const {
    return status == other.status && totals.modules == other.totals.modules &&
           totals.passed == other.totals.passed && totals.failed == other.totals.failed &&
           totals.sequence == other.totals.sequence;
}

bool PortMark::operator==(const PortMark& other) const {
    return status == other.status && step == other.step && modules == other.modules &&
           failed == other.failed && lastSequence == other.lastSequence;
}

StationMark MarkOf(StationStatus status, const StationTotals& totals) {
    StationMark mark;
    mark.status = status;
    mark.totals = totals;
    return mark;
}

PortMark MarkOf(const PortSnapshot& port) {
    PortMark mark;
    mark.status = port.status;
    mark.step = port.step;
    mark.modules = port.modules;
    mark.failed = port.failed;
    mark.lastSequence = port.lastSequence;
    return mark;
}

void RecordWindow::Handed(int mid, int64_t sequence) {
    byMid_[mid] = sequence;
    if (sequence > handedThrough_) {
        handedThrough_ = sequence;
    }
}

void RecordWindow::Accepted(int mid) {
    const auto at = byMid_.find(mid);
    if (at == byMid_.end()) {
        return;
    }
    const int64_t sequence = at->second;
    byMid_.erase(at);
    if (sequence <= acceptedThrough_) {
        return;
    }
    acceptedAhead_.insert(sequence);
    while (!acceptedAhead_.empty() && *acceptedAhead_.begin() == acceptedThrough_ + 1) {
        acceptedAhead_.erase(acceptedAhead_.begin());
        ++acceptedThrough_;
    }
}

void RecordWindow::Gone(int64_t first, int64_t last) {
    for (int64_t sequence = first; sequence <= last; ++sequence) {
        if (sequence > handedThrough_) {
            handedThrough_ = sequence;
        }
        if (sequence > acceptedThrough_ && acceptedAhead_.insert(sequence).second) {
            ++goneCount_;
        }
    }
    while (!acceptedAhead_.empty() && *acceptedAhead_.begin() == acceptedThrough_ + 1) {
        acceptedAhead_.erase(acceptedAhead_.begin());
        ++acceptedThrough_;
    }
}

int64_t RecordWindow::Waiting(int64_t lastSequence) const {
    int64_t waiting = lastSequence - acceptedThrough_;
    for (int64_t sequence : acceptedAhead_) {
        if (sequence <= lastSequence) {
            --waiting;
        }
    }
    return waiting < 0 ? 0 : waiting;
}

bool RecordWindow::IsAccepted(int64_t sequence) const {
    return sequence <= acceptedThrough_ || acceptedAhead_.count(sequence) > 0;
}
