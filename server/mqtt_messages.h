// What the station publishes to the plant's broker, as plain data: the
// topics under the prefix, when the station's and a port's retained objects
// are due again, and which module records the broker has accepted. The
// publisher (mqtt_publisher.cpp) hands these to libmosquitto.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "station_state.h"

// PREFIX/state, PREFIX/port/COMn, PREFIX/module.
std::string StateTopic(const std::string& prefix);
std::string PortTopic(const std::string& prefix, int port);
std::string ModuleTopic(const std::string& prefix);

// The will: what the broker publishes to PREFIX/state when the station is
// gone without saying so.
extern const char kOfflinePayload[];

// The line the station says while the broker does not take its records:
// "broker not reached: REASON, N records waiting".
std::string BrokerProblemText(const std::string& reason, int64_t waiting);

// What makes the station's object worth publishing again: its state and
// totals (not its clock).
struct StationMark {
    StationStatus status = kStationRunning;
    StationTotals totals;
    bool operator==(const StationMark& other) const;
};
// What makes a port's object worth publishing again: its state, step and
// counts (not its percent).
struct PortMark {
    PortStatus status = kPortWaiting;
    std::string step;
    int modules = 0;
    int failed = 0;
    int64_t lastSequence = 0;
    bool operator==(const PortMark& other) const;
};
StationMark MarkOf(StationStatus status, const StationTotals& totals);
PortMark MarkOf(const PortSnapshot& port);

// The module records handed to the client library, by the message id it
// gave, and those the broker accepted. Records go out in sequence order;
// those up to AcceptedThrough() have all been accepted.
class RecordWindow {
  public:
    // Record sequence went out as message mid.
    void Handed(int mid, int64_t sequence);
    // The broker accepted message mid (one that is not a record's: ignored).
    void Accepted(int mid);
    // Records from first to last are no longer held by the station (its
    // store keeps the latest only): they cannot go out, and are counted as
    // lost rather than waited for.
    void Gone(int64_t first, int64_t last);
    // Records that were gone before they went out.
    int64_t GoneCount() const {
        return goneCount_;
    }
    int64_t HandedThrough() const {
        return handedThrough_;
    }
    int64_t AcceptedThrough() const {
        return acceptedThrough_;
    }
    // Handed and not accepted yet.
    size_t InFlight() const {
        return byMid_.size();
    }
    // Records up to lastSequence that the broker has not accepted.
    int64_t Waiting(int64_t lastSequence) const;
    bool IsAccepted(int64_t sequence) const;

  private:
    std::map<int, int64_t> byMid_;
    std::set<int64_t> acceptedAhead_; // accepted, beyond acceptedThrough_
    int64_t handedThrough_ = 0;
    int64_t acceptedThrough_ = 0;
    int64_t goneCount_ = 0;
};
