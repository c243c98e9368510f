// The station's publisher to the plant's MQTT broker, one more reader of the
// station's state, on a thread of its own with libmosquitto: the station's
// object (retained PREFIX/state, on a change of its state or totals, at most
// twice a second), each port's (retained PREFIX/port/COMn, on a change of
// its state), and every module record (PREFIX/module, QoS 1, in order, read
// from the state's records). The will, sent by the broker when the station
// goes without a word: PREFIX/state {"state":"offline"}.
//
// A broker away stops nothing: the records wait in the state, the condition
// says "broker not reached: REASON, N records waiting", and the broker is
// tried again every 5 s; once it is back the records follow in order, each
// at least once (a repeat has the same run and sequence).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "mqtt_condition.h"
#include "mqtt_option.h"
#include "station_state.h"

class PublisherCore;

// The exit status of a station whose records did not all reach the broker.
enum : int { kExitRecordsNotPublished = 11 };

// The records the broker never accepted, for standard output at the end:
// a line that says so, then each record as it would have been published.
// gone: records the station no longer held, counted in a line of their own.
std::string NotAcceptedText(const std::vector<ModuleRecord>& records, int64_t gone,
                            const MqttSettings& settings);

struct PublisherTimes {
    DWORD retryMs = 5000;     // between two tries of the broker
    DWORD answerMs = 5000;    // for the broker's answer to a try
    DWORD stateGapMs = 500;   // between two of the station's objects
    DWORD turnMs = 50;        // how often the state is looked at
    DWORD endLimitMs = 400;   // for the last records and the end to be accepted
    size_t recordWindow = 64; // records handed to the library and not yet accepted
};

class MqttPublisher {
  public:
    MqttPublisher(StationState& state, const MqttSettings& settings,
                  const PublisherTimes& times = PublisherTimes());
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Starts the thread, which tries the broker at once. Empty when it
    // runs, else why not (the library refused the settings).
    std::string Start();
    // The station has ended: its last records and {"state":"ended", ...} go
    // out while the broker takes them within times.endLimitMs, then the
    // connection is closed (no will) and the thread ends.
    void Stop();
    // After Stop: the records the broker did not accept, in order, and how
    // many more it never got that the station no longer held.
    std::vector<ModuleRecord> NotAccepted() const;
    int64_t GoneCount() const;

    const MqttCondition& Condition() const;

  private:
    std::shared_ptr<PublisherCore> core_;
};
