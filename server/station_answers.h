// What the station's server answers to a request, over the station's state:
// the status, the headers and the body. No network here: the server sends
// what it is given, and starts an event stream where the answer says so.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http_guard.h"
#include "log_download.h"
#include "mqtt_condition.h"
#include "station_metrics.h"
#include "station_state.h"

struct Reply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers; // Content-Type first
    std::string body;
    // The event stream: it begins with the records after streamAfter.
    bool stream = false;
    int64_t streamAfter = 0;
    // The log's download: range's bytes of file follow the head, which
    // has no Content-Length yet.
    std::shared_ptr<LogFileReader> file;
    ByteRange range;
};

// What the answers need besides the request.
struct ReplyContext {
    StationState& state;
    std::string cookie;                  // the value of the cookie that stands for the secret
    std::function<void()> stop;          // what POST /api/stop does
    int64_t knownSequence = 0;           // the last record the event streams were offered
    MetricsTally* tally = nullptr;       // the counters of /metrics
    const MqttCondition* mqtt = nullptr; // the broker's, when the station publishes
};

// A failure: {"error": TEXT} with its status, and the header that a 401
// (WWW-Authenticate) or a 405 (Allow, the route's method) wants.
Reply FailureReply(int status, const std::string& error, Route route = kNoRoute);

// The answer to a request that verdict let through. body: the request's
// body; lastEventId: its Last-Event-ID header, nullptr when it has none.
Reply ReplyTo(const RequestFacts& request, const Verdict& verdict, const std::string& body,
              const std::string* lastEventId, const ReplyContext& context);
