// GET /metrics: the station's counters in Prometheus's text format, for the
// plant's monitoring. The server keeps what the state does not: each port's
// modules by outcome, a histogram of their times and the script bytes sent,
// taken from the records and the downloads' progress as they come, so that
// they only grow within a run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "mqtt_condition.h"
#include "station_state.h"

// The upper bounds of the histogram's buckets, in seconds (+Inf beyond).
extern const double kModuleSecondsBounds[10];

struct PortCounts {
    int64_t passed = 0;
    int64_t failed = 0;
    int64_t cutShort = 0;     // interrupted by a stop
    int64_t buckets[10] = {}; // modules within each bound (not cumulated)
    double secondsSum = 0;
    int64_t bytesSent = 0;
};

// One port as the metrics show it.
struct PortMetrics {
    std::string port; // "COM3"
    PortStatus status = kPortWaiting;
    int alarm = 0;
    PortCounts counts;
};

struct MetricsInput {
    std::string station;
    std::string run;
    std::vector<PortMetrics> ports;
    int64_t logRowsWaiting = 0;
    int64_t mqttRecordsWaiting = -1; // -1: no broker
};

// The exposition: # HELP and # TYPE before each family, labels escaped.
std::string MetricsText(const MetricsInput& input);

// The counters, from the records and the ports' progress, on the server's
// thread.
class MetricsTally {
  public:
    explicit MetricsTally(size_t ports) : ports_(ports) {}
    // Takes the records added since the last call and the downloads' bytes.
    void Update(const StationState& state);
    const PortCounts& Counts(size_t index) const {
        return ports_[index].counts;
    }

  private:
    struct PortTally {
        PortCounts counts;
        ULONGLONG downloadMs = 0; // the download under way when last looked at
        int32_t sentSeen = 0;     // of its bytes, counted
    };
    std::vector<PortTally> ports_;
    int64_t sequence_ = 0;
};

// The run that the metrics label (korvan_run_info{run=...}): a new one at
// each start of the station.
std::string RunOf(const StationState& state);
// The number of rows the log's problem says are waiting: "..., 3 rows waiting".
int64_t RowsWaitingOf(const std::string& logProblem);

// Everything /metrics shows, as it stands.
MetricsInput MetricsOf(const StationState& state, const MetricsTally& tally,
                       const MqttCondition* mqtt);
