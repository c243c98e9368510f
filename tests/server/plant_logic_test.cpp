// The pure parts of the station's way into the plant's systems: --mqtt's
// options, which records the broker has accepted, and /metrics's text.
#include <gtest/gtest.h>

#include "mqtt_messages.h"
#include "mqtt_option.h"
#include "station_metrics.h"

TEST(MqttOption, ReadsHostAndPortAndTellsWhatIsWrong) {
    const struct {
        const char* text;
        const char* host; // nullptr: refused
        int port;
    } kCases[] = {
        {"broker", "broker", 1883},
        {"10.0.0.5:1884", "10.0.0.5", 1884},
        {"mes.plant.local:65535", "mes.plant.local", 65535},
        {"[::1]", "::1", 1883},
        {"[fe80::1]:1", "fe80::1", 1},
        {"", nullptr, 0},
        {"broker:", nullptr, 0},
        {"broker:0", nullptr, 0},
        {"broker:65536", nullptr, 0},
        {":1883", nullptr, 0},
        {"::1", nullptr, 0},
        {"[::1]1883", nullptr, 0},
        {"[::1", nullptr, 0},
        {"mqtt://broker", nullptr, 0},
        {"user@broker", nullptr, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        MqttSettings settings;
        const std::string problem = ParseMqttAddress(c.text, &settings);
        if (c.host == nullptr) {
            EXPECT_NE(problem.find("--mqtt"), std::string::npos) << problem;
            continue;
        }
        ASSERT_EQ(problem, "");
        EXPECT_EQ(settings.host, c.host);
        EXPECT_EQ(settings.port, c.port);
    }
}

TEST(MqttOption, TopicPrefixAndCredentials) {
    const struct {
        const char* text;
        const char* prefix; // nullptr: refused
    } kPrefixes[] = {
        {"plant/line3/korvan", "plant/line3/korvan"},
        {"korvan/st-7/", "korvan/st-7"},
        {"", nullptr},
        {"/", nullptr},
        {"korvan/+", nullptr},
        {"korvan/#", nullptr},
    };
    for (const auto& c : kPrefixes) {
        SCOPED_TRACE(c.text);
        MqttSettings settings;
        const std::string problem = TakeTopicPrefix(c.text, &settings);
        EXPECT_EQ(problem.empty(), c.prefix != nullptr) << problem;
        if (c.prefix != nullptr) {
            EXPECT_EQ(settings.prefix, c.prefix);
        }
    }
    EXPECT_EQ(DefaultTopicPrefix("ST#7/a+b"), "korvan/ST_7_a_b");

    const struct {
        const char* text;
        const char* user; // nullptr: refused
        const char* password;
    } kFiles[] = {
        {"station7\r\ns3cret\r\n", "station7", "s3cret"},
        {"\xEF\xBB\xBFstation7\ns3cret", "station7", "s3cret"},
        {"station7\n", "station7", ""},
        {"\ns3cret\n", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const auto& c : kFiles) {
        SCOPED_TRACE(c.text);
        MqttSettings settings;
        const std::string problem = CredentialsFromText(c.text, &settings);
        EXPECT_EQ(problem.empty(), c.user != nullptr) << problem;
        if (c.user != nullptr) {
            EXPECT_EQ(settings.user, c.user);
            EXPECT_EQ(settings.password, c.password);
        }
    }
}

// The broker accepts messages in any order; a record counts as delivered
// only with all before it, and one accepted twice counts once.
TEST(RecordWindow, AcceptedThroughTheFirstGap) {
    RecordWindow window;
    for (int64_t sequence = 1; sequence <= 4; ++sequence) {
        window.Handed(100 + static_cast<int>(sequence), sequence);
    }
    EXPECT_EQ(window.Waiting(6), 6);
    window.Accepted(102);
    window.Accepted(104);
    window.Accepted(999); // no record's
    EXPECT_EQ(window.AcceptedThrough(), 0);
    EXPECT_EQ(window.Waiting(6), 4);
    EXPECT_TRUE(window.IsAccepted(2));
    EXPECT_FALSE(window.IsAccepted(3));
    window.Accepted(101);
    EXPECT_EQ(window.AcceptedThrough(), 2);
    window.Accepted(101);
    window.Accepted(103);
    EXPECT_EQ(window.AcceptedThrough(), 4);
    EXPECT_EQ(window.InFlight(), 0u);
    EXPECT_EQ(window.HandedThrough(), 4);
    EXPECT_EQ(window.Waiting(6), 2);
    // Records 5 to 7 left the station's store before they went out: lost,
    // and no longer waited for.
    window.Handed(108, 8);
    window.Gone(5, 7);
    EXPECT_EQ(window.GoneCount(), 3);
    EXPECT_EQ(window.AcceptedThrough(), 7);
    window.Accepted(108);
    EXPECT_EQ(window.Waiting(8), 0);
    EXPECT_EQ(BrokerProblemText("the connection was refused", 1),
              "broker not reached: the connection was refused, 1 record waiting");
    EXPECT_EQ(PortTopic("korvan/st7", 12), "korvan/st7/port/COM12");
}

namespace {

ModuleRecord Record(size_t index, int exitStatus, double seconds, int64_t scriptBytes) {
    ModuleRecord record;
    record.portIndex = index;
    record.line.port = static_cast<int>(index) + 3;
    record.line.job = "firmware";
    record.line.scriptSize = scriptBytes;
    record.line.exitStatus = exitStatus;
    record.line.seconds = seconds;
    return record;
}

} // namespace

// Counters from the records and the downloads as they come: a download's
// bytes counted as sent, a success's whole script, the outcome of each
// module in its bucket; the text as Prometheus reads it.
TEST(StationMetrics, CountsWhatTheStationDid) {
    StationJobInfo job;
    job.job = "firmware";
    job.startedUtc = "2026-12-08T09:15:02Z";
    StationState state({3, 4}, job);
    MetricsTally tally(2);
    state.SetStatus(0, kPortProgramming);
    state.SetProgress(0, 1000, 4000);
    tally.Update(state);
    EXPECT_EQ(tally.Counts(0).bytesSent, 1000);
    state.AddRecord(Record(0, 0, 4.5, 4000));
    state.AddRecord(Record(1, 6, 0.5, 4000));
    state.AddRecord(Record(1, kRunInterrupted, 301, 4000));
    state.SetProgress(0, 0, 0);
    state.SetStatus(0, kPortPassed);
    tally.Update(state);
    const PortCounts& first = tally.Counts(0);
    const PortCounts& second = tally.Counts(1);
    EXPECT_EQ(first.bytesSent, 4000);
    EXPECT_EQ(first.passed, 1);
    EXPECT_EQ(first.buckets[3], 1); // 4.5 s: within 5 s
    EXPECT_EQ(second.failed, 1);
    EXPECT_EQ(second.cutShort, 1);
    EXPECT_EQ(second.buckets[0], 1); // 0.5 s: within its bound
    EXPECT_EQ(second.bytesSent, 0);

    MqttCondition mqtt;
    mqtt.waiting = 7;
    state.SetLogProblem("log not written: the disk is full, 3 rows waiting");
    MetricsInput input = MetricsOf(state, tally, &mqtt);
    input.station = "st\"7";
    const std::string text = MetricsText(input);
    for (const char* line : {
             "# TYPE korvan_modules_total counter\n",
             "korvan_modules_total{station=\"st\\\"7\",port=\"COM3\",outcome=\"passed\"} 1\n",
             "korvan_modules_total{station=\"st\\\"7\",port=\"COM4\",outcome=\"cut-short\"} 1\n",
             "korvan_run_info{station=\"st\\\"7\",run=\"2026-12-08T09:15:02Z\"} 1\n",
             "korvan_module_seconds_bucket{station=\"st\\\"7\",port=\"COM4\",le=\"300\"} 1\n",
             "korvan_module_seconds_bucket{station=\"st\\\"7\",port=\"COM4\",le=\"+Inf\"} 2\n",
             "korvan_port_state{station=\"st\\\"7\",port=\"COM3\",state=\"passed\"} 1\n",
             "korvan_port_state{station=\"st\\\"7\",port=\"COM3\",state=\"waiting\"} 0\n",
             "korvan_script_bytes_sent_total{station=\"st\\\"7\",port=\"COM3\"} 4000\n",
             "korvan_log_rows_waiting{station=\"st\\\"7\"} 3\n",
             "korvan_mqtt_records_waiting{station=\"st\\\"7\"} 7\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
    EXPECT_EQ(RowsWaitingOf(""), 0);
    EXPECT_EQ(RowsWaitingOf("log not written: share gone, 1 row waiting"), 1);
}
