// How the station's publishing to the plant's broker stands, for the page,
// /api/station, /metrics and the console: written by the publisher's
// thread alone, read by any.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "published_lines.h"

struct MqttCondition {
    std::string broker;               // "HOST:PORT", fixed before the publisher starts
    std::atomic<bool> reached{false}; // connected, its login accepted
    std::atomic<int64_t> waiting{0};  // module records the broker has not accepted
    SharedText problem;               // "broker not reached: ..."; empty while reached
};

// /api/station's "mqtt": {"broker", "reached", "records_waiting", "problem"}
// (problem null while reached); null without a broker.
inline nlohmann::json MqttJson(const MqttCondition* condition) {
    if (condition == nullptr) {
        return nullptr;
    }
    const std::string problem = condition->problem.Get();
    return nlohmann::json{
        {"broker", condition->broker},
        {"reached", condition->reached.load()},
        {"records_waiting", condition->waiting.load()},
        {"problem", problem.empty() ? nlohmann::json(nullptr) : nlohmann::json(problem)}};
}
