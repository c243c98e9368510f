// The station server's pure parts: --serve's address and token file, who
// may ask what, and the JSON forms of the station's state.
#include <gtest/gtest.h>

#include "http_guard.h"
#include "log_download.h"
#include "record_paging.h"
#include "run_id.h"
#include "serve_option.h"
#include "served_files.h"
#include "station_json.h"

using nlohmann::json;

TEST(ServeOption, ReadsAddressAndPortAndTellsWhatIsWrong) {
    const struct {
        const char* text;
        const char* address; // nullptr: refused
        int port;
        bool loopback;
    } kCases[] = {
        {"8080", "127.0.0.1", 8080, true},
        {"0", "127.0.0.1", 0, true},
        {"65535", "127.0.0.1", 65535, true},
        {"127.0.0.2:80", "127.0.0.2", 80, true},
        {"localhost:81", "127.0.0.1", 81, true},
        {"[::1]:8080", "::1", 8080, true},
        {"10.1.2.3:8080", "10.1.2.3", 8080, false},
        {"0.0.0.0:8080", "0.0.0.0", 8080, false},
        {"[fe80::1]:1", "fe80::1", 1, false},
        {"", nullptr, 0, false},
        {"65536", nullptr, 0, false},
        {"-1", nullptr, 0, false},
        {"80a", nullptr, 0, false},
        {"127.0.0.1:", nullptr, 0, false},
        {":80", nullptr, 0, false},
        {"1.2.3:80", nullptr, 0, false},
        {"1.2.3.256:80", nullptr, 0, false},
        {"pc-7:80", nullptr, 0, false},
        {"::1:80", nullptr, 0, false},
        {"[::1]80", nullptr, 0, false},
        {"[::g]:80", nullptr, 0, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        ServeAddress address;
        const std::string problem = ParseServeAddress(c.text, &address);
        if (c.address == nullptr) {
            EXPECT_NE(problem, "");
            EXPECT_NE(problem.find(std::string("\"")), std::string::npos) << problem;
            continue;
        }
        ASSERT_EQ(problem, "");
        EXPECT_EQ(address.address, c.address);
        EXPECT_EQ(address.port, c.port);
        EXPECT_EQ(IsLoopbackAddress(address.address), c.loopback);
        // Beyond loopback only with a secret.
        EXPECT_EQ(ServeAccessProblem(address, false).empty(), c.loopback);
        EXPECT_EQ(ServeAccessProblem(address, true), "");
    }
}

TEST(ServeOption, TheTokenIsTheFirstLineOfAtLeastSixteenCharacters) {
    const struct {
        const char* text;
        const char* token; // nullptr: refused
    } kCases[] = {
        {"0123456789abcdef", "0123456789abcdef"},
        {"0123456789abcdef\r\nsecond line", "0123456789abcdef"},
        {"\xEF\xBB\xBF"
         "0123456789abcdef\n",
         "0123456789abcdef"},
        {"with blanks and ; = , inside\n", "with blanks and ; = , inside"},
        {"0123456789abcde\n0123456789abcdef", nullptr},
        {"", nullptr},
        {"\n0123456789abcdef", nullptr},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        std::string token;
        const std::string problem = TokenFromFileText(c.text, &token);
        EXPECT_EQ(problem.empty(), c.token != nullptr) << problem;
        EXPECT_EQ(token, c.token != nullptr ? c.token : "");
    }
    std::string token;
    EXPECT_NE(ReadTokenFile("no such token file.txt", &token).find("no such token file.txt"),
              std::string::npos);
}

TEST(HttpGuard, HostMustNameThisStation) {
    const std::vector<std::string> names = {"LINE-PC-7", "line-pc-7.plant.example"};
    const struct {
        const char* host;
        const char* local;
        bool allowed;
    } kCases[] = {
        {"127.0.0.1:8080", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.1", true},
        {"localhost:8080", "127.0.0.1", true},
        {"LOCALHOST:8080", "127.0.0.1", true},
        {"[::1]:8080", "::1", true},
        {"line-pc-7:8080", "10.0.0.5", true},
        {"Line-PC-7.plant.example", "10.0.0.5", true},
        {"10.0.0.5:8080", "10.0.0.5", true},
        {"localhost:8080", "10.0.0.5", false},  // not on loopback
        {"127.0.0.1:8081", "127.0.0.1", false}, // another port
        {"evil.example:8080", "127.0.0.1", false},
        {"127.0.0.1.evil.example", "127.0.0.1", false},
        {"10.0.0.6:8080", "10.0.0.5", false},
        {"", "127.0.0.1", false},
        {"127.0.0.1:", "127.0.0.1", false},
        {"127.0.0.1:99999", "127.0.0.1", false},
        {"[::1", "::1", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(HostAllowed(c.host, c.local, 8080, names), c.allowed);
    }
}

TEST(HttpGuard, SecretsAndQueries) {
    const std::string secret = "0123456789abcdef";
    EXPECT_TRUE(SameSecret(secret, secret));
    for (const char* wrong : {"", "0123456789abcde", "0123456789abcdeF", "0123456789abcdef0"}) {
        EXPECT_FALSE(SameSecret(wrong, secret)) << wrong;
    }
    EXPECT_FALSE(SameSecret("", "")); // no secret is never a match
    std::string value;
    EXPECT_TRUE(QueryValue("/?a=1&token=x%20y%2", "token", &value));
    EXPECT_EQ(value, "x y%2");
    EXPECT_FALSE(QueryValue("/?tokens=1", "token", &value));
    int64_t sequence = -1;
    EXPECT_TRUE(ParseSequence("123456789012345678", &sequence));
    EXPECT_EQ(sequence, 123456789012345678);
    for (const char* bad : {"", "-1", "1e3", "1234567890123456789", " 1"}) {
        EXPECT_FALSE(ParseSequence(bad, &sequence)) << bad;
    }
}

TEST(HttpGuard, JudgesEachRequestInTurn) {
    GuardSettings settings;
    settings.token = "0123456789abcdef";
    settings.cookie = NewCookieValue();
    settings.port = 8080;
    // credentials: B the Bearer token, C its cookie, W a wrong token, R the
    // secret itself as the cookie, O the cookie of an earlier run. Status
    // 303: the cookie is to be set.
    const struct {
        const char *method, *target, *host, *credentials, *type;
        int status;
    } kCases[] = {
        {"GET", "/api/station", "127.0.0.1:8080", "B", "", 0},
        {"GET", "/api/modules?after=3", "localhost:8080", "C", "", 0},
        {"POST", "/api/stop", "localhost", "B", "Application/JSON; charset=utf-8", 0},
        {"GET", "/?token=0123456789abcdef", "localhost", "", "", 303},
        {"GET", "/?token=0123456789abcdeX", "localhost", "", "", 401},
        {"GET", "/", nullptr, "B", "", 400},
        {"GET", "/", "evil.example", "B", "", 421},
        {"GET", "/api/station", "localhost", "W", "", 401},
        {"GET", "/", "localhost", "R", "", 401},
        {"GET", "/", "localhost", "O", "", 401},
        {"GET", "/api/nothing", "localhost", "B", "", 404},
        {"GET", "/api/stop", "localhost", "B", "", 405},
        {"POST", "/api/station", "localhost", "B", "application/json", 405},
        {"POST", "/api/stop", "localhost", "B", "text/plain", 400},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target + " " + c.credentials);
        RequestFacts facts;
        facts.method = c.method;
        facts.target = c.target;
        facts.hasHost = c.host != nullptr;
        facts.host = c.host ? c.host : "";
        facts.contentType = c.type;
        const std::string credentials = c.credentials;
        if (credentials == "B" || credentials == "W") {
            facts.authorization =
                "Bearer 0123456789abcde" + std::string(credentials == "B" ? "f" : "X");
        } else if (credentials == "C" || credentials == "R" || credentials == "O") {
            facts.cookie = std::string("x=1; ") + kTokenCookie + "=" +
                           (credentials == "C"   ? settings.cookie
                            : credentials == "R" ? settings.token
                                                 : NewCookieValue());
        }
        const Verdict verdict = Judge(facts, "127.0.0.1", settings);
        EXPECT_EQ(verdict.setCookie ? 303 : verdict.status, c.status) << verdict.error;
        EXPECT_EQ(verdict.error.empty(), verdict.status == 0);
    }
    // Without a secret, loopback is open to this PC.
    settings.token.clear();
    RequestFacts plain;
    plain.method = "GET";
    plain.target = "/";
    plain.hasHost = true;
    plain.host = "localhost";
    EXPECT_EQ(Judge(plain, "127.0.0.1", settings).status, 0);
    // The cookie holds nothing of the secret, and differs from run to run.
    EXPECT_EQ(settings.cookie.size(), 64u);
    EXPECT_NE(settings.cookie, NewCookieValue());
}

TEST(LogDownload, ARangeFromByteNIsAPartAndBeyondTheEndNothing) {
    const struct {
        const char* range; // nullptr: no header
        uint64_t size;
        int status;
        uint64_t first, count;
        const char* contentRange;
    } kCases[] = {
        {nullptr, 100, 200, 0, 100, ""},
        {"bytes=0-", 100, 206, 0, 100, "bytes 0-99/100"},
        {"bytes=40-", 100, 206, 40, 60, "bytes 40-99/100"},
        {"bytes=99-", 100, 206, 99, 1, "bytes 99-99/100"},
        {"bytes=100-", 100, 416, 0, 0, "bytes */100"},
        {"bytes=5000-", 100, 416, 0, 0, "bytes */100"},
        {"bytes=0-", 0, 416, 0, 0, "bytes */0"},
        {"bytes=10-19", 100, 206, 10, 10, "bytes 10-19/100"},
        {"bytes=90-500", 100, 206, 90, 10, "bytes 90-99/100"},
        {"bytes=-30", 100, 206, 70, 30, "bytes 70-99/100"},
        {"bytes=-300", 100, 206, 0, 100, "bytes 0-99/100"},
        {"bytes=-0", 100, 416, 0, 0, "bytes */100"},
        // Forms not answered: the whole file.
        {"bytes=20-10", 100, 200, 0, 100, ""},
        {"bytes=0-1,5-", 100, 200, 0, 100, ""},
        {"lines=3-", 100, 200, 0, 100, ""},
        {"bytes=x-", 100, 200, 0, 100, ""},
        {"bytes=-", 100, 200, 0, 100, ""},
        {"bytes=7", 100, 200, 0, 100, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.range ? c.range : "none");
        const std::string header = c.range ? c.range : "";
        const ByteRange range = RangeOf(c.range ? &header : nullptr, c.size);
        EXPECT_EQ(range.status, c.status);
        if (range.status != 416) {
            EXPECT_EQ(range.first, c.first);
            EXPECT_EQ(range.count, c.count);
        }
        EXPECT_EQ(ContentRange(range, c.size), c.contentRange);
    }
}

TEST(RecordPaging, AnotherRunsIdResumesFromTheFirstRecord) {
    const std::string run = "20261208T141636Z-3f9a0c1e";
    EXPECT_EQ(EventId(run, 12), run + ".12");
    EXPECT_EQ(EventId("", 12), "12");
    const struct {
        const char *text, *run;
        bool read;
        int64_t after;
    } kCases[] = {
        {"20261208T141636Z-3f9a0c1e.5", "", true, 5},
        {"20261207T080000Z-00000001.5", "", true, 0}, // the run before: from 1
        {"5", "", true, 5},                           // a plain number: this run's
        {"5", "20261208T141636Z-3f9a0c1e", true, 5},
        {"5", "20261207T080000Z-00000001", true, 0},
        {"0", "", true, 0},
        {".5", "", false, 0},
        {"run.", "", false, 0},
        {"run.-1", "", false, 0},
        {"", "", false, 0},
        {"x", "", false, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.text) + " run=" + c.run);
        int64_t after = -1;
        EXPECT_EQ(ResumeAfter(c.text, c.run, run, &after), c.read);
        if (c.read) {
            EXPECT_EQ(after, c.after);
        }
    }
    const struct {
        const char* text;
        size_t limit; // 0: refused
    } kLimits[] = {{"1", 1}, {"1000", 1000}, {"1001", 1000}, {"99999999", 1000},
                   {"0", 0}, {"-5", 0},      {"", 0},        {"ten", 0}};
    for (const auto& c : kLimits) {
        size_t limit = 0;
        EXPECT_EQ(PageLimit(c.text, &limit), c.limit != 0) << c.text;
        EXPECT_EQ(limit, c.limit) << c.text;
    }
    // A run's id: its start, a random part, and nothing an event id splits at.
    const std::string made = NewRunId("2026-12-08T14:16:36Z");
    EXPECT_EQ(made.size(), 25u) << made;
    EXPECT_EQ(made.rfind("20261208T141636Z-", 0), 0u) << made;
    EXPECT_EQ(made.find('.'), std::string::npos);
    EXPECT_NE(made, NewRunId("2026-12-08T14:16:36Z"));
}

TEST(ServeOption, AServeHostIsAHostName) {
    for (const char* name : {"station-7", "line3.plant.example", "PROXY", "10.1.2.3"}) {
        EXPECT_EQ(ServeHostProblem(name), "") << name;
    }
    for (const char* name : {"", "a b", "evil.example:80", "-x", ".x", "x/y", "n\u00e4me"}) {
        EXPECT_NE(ServeHostProblem(name), "") << name;
    }
}

TEST(StationJson, RecordsPortsAndTheStationByTheLogsNames) {
    ModuleRecord record;
    record.sequence = 7;
    record.run = "20261208T091502Z-0a1b2c3d";
    record.line = {"2026-12-08T09:15:02Z",
                   3,
                   "profibus-id",
                   "",
                   -1,
                   "",
                   -1,
                   12,
                   "<img src=x onerror=alert(1)>\xFF",
                   0,
                   "Profibus-ID set",
                   "",
                   4.26,
                   "line 2",
                   "lot 42",
                   "Ana"};
    EXPECT_EQ(JsonText(RecordJson(record)),
              R"({"detail":"","exit_status":0,"job":"profibus-id","new_profibus_id":12,)"
              R"("old_profibus_id":null,"operator":"Ana","order":"lot 42",)"
              R"("outcome":"Profibus-ID set","port":"COM3",)"
              R"("run":"20261208T091502Z-0a1b2c3d","script":"",)"
              R"("script_bytes":null,"script_sha256":"","seconds":4.3,"sequence":7,)"
              R"("startup_output":"<img src=x onerror=alert(1)>)"
              "\xEF\xBF\xBD" // U+FFFD for the byte that is not UTF-8
              R"(","station":"line 2","time_utc":"2026-12-08T09:15:02Z"})");

    const struct {
        int32_t sent, size;
        PortStatus status;
        json percent;
    } kPercents[] = {
        {374, 1000, kPortProgramming, 37.4}, {3749, 10000, kPortProgramming, 37.4},
        {1, 3, kPortProgramming, 33.3},      {5, 5, kPortProgramming, 100.0},
        {0, 0, kPortProgramming, nullptr},   {374, 1000, kPortWaiting, nullptr},
    };
    for (const auto& c : kPercents) {
        PortSnapshot port;
        port.port = 12;
        port.status = c.status;
        port.sent = c.sent;
        port.size = c.size;
        const json shown = PortJson(port, nullptr);
        EXPECT_EQ(shown["percent"], c.percent) << c.sent << " of " << c.size;
        EXPECT_EQ(shown["port"], "COM12");
        EXPECT_EQ(shown["last"], nullptr);
    }

    StationJobInfo job;
    job.job = "firmware";
    job.script = "fw.txt";
    job.scriptBytes = 2048;
    job.startedUtc = "2026-12-31T23:59:00Z";
    StationTotals totals{5, 4, 1, 5};
    const json station = StationJson(job, kStationPaused, totals,
                                     SecondsBetween(job.startedUtc, "2027-01-01T00:01:30Z"));
    EXPECT_EQ(station["state"], "paused");
    EXPECT_EQ(station["elapsed_seconds"], 150);
    EXPECT_EQ(station["profibus_id"], nullptr);
    EXPECT_EQ(station["script_bytes"], 2048);
    EXPECT_EQ(SecondsBetween("2024-02-28T00:00:00Z", "2024-03-01T00:00:00Z"), 2 * 86400);
    EXPECT_EQ(SecondsBetween("", "2024-03-01T00:00:00Z"), -1);

    EXPECT_EQ(EventText("module", json{{"a", "x\ny"}}, "run-1.9"),
              "event: module\nid: run-1.9\ndata: {\"a\":\"x\\ny\"}\n\n");
    EXPECT_EQ(EventText("port", json::object()), "event: port\ndata: {}\n\n");
}

// --alarm-after 3: a port's third failure in a row raises its alarm (the
// port's JSON and the station's list of ports in alarm), a pass clears it;
// another port's failures count for it alone.
TEST(StationJson, ThreeFailuresInARowRaiseAPortsAlarmAndAPassClearsIt) {
    StationJobInfo job;
    job.alarmAfter = 3;
    job.station = "line 2";
    StationState state({3, 4}, job);
    const struct {
        size_t port;
        RunOutcome outcome;
        int com3InRow, com4InRow;
        json alarm;
    } kModules[] = {
        {0, kNotProgrammed, 1, 0, json::array()},  {1, kNotProgrammed, 1, 1, json::array()},
        {0, kNoKorvanModule, 2, 1, json::array()}, {0, kRunInterrupted, 3, 1, {"COM3"}},
        {0, kNotProgrammed, 4, 1, {"COM3"}},       {1, kRunSucceeded, 4, 0, {"COM3"}},
        {0, kRunSucceeded, 0, 0, json::array()},
    };
    for (const auto& module : kModules) {
        ModuleRecord record;
        record.portIndex = module.port;
        record.report.outcome = module.outcome;
        state.AddRecord(record);
        const json station = StationNow(state);
        EXPECT_EQ(station["alarm"], module.alarm) << station.dump();
        EXPECT_EQ(station["station"], "line 2");
        EXPECT_EQ(station["alarm_after"], 3);
        EXPECT_EQ(station["ports"][0]["failed_in_row"], module.com3InRow);
        EXPECT_EQ(station["ports"][0]["alarm"], module.com3InRow >= 3);
        EXPECT_EQ(station["ports"][1]["failed_in_row"], module.com4InRow);
        EXPECT_EQ(station["ports"][1]["alarm"], false);
    }
}

TEST(PageFiles, ThePageNeedsNothingFromElsewhereAndPutsTextAsText) {
    std::string page, style, script, type;
    ASSERT_TRUE(PageFile(kPageRoute, &page, &type));
    EXPECT_EQ(type, "text/html; charset=utf-8");
    ASSERT_TRUE(PageFile(kStyleRoute, &style, &type));
    ASSERT_TRUE(PageFile(kScriptRoute, &script, &type));
    for (const std::string* file : {&page, &style, &script}) {
        for (const char* elsewhere : {"http:", "https:", "//", "@import", "url("}) {
            // "//" begins the script's comments: only a "//" inside a quote would load.
            if (file == &script && std::string(elsewhere) == "//") {
                continue;
            }
            EXPECT_EQ(file->find(elsewhere), std::string::npos) << elsewhere;
        }
    }
    for (const char* markup :
         {"innerHTML", "outerHTML", "insertAdjacentHTML", "document.write", "eval("}) {
        EXPECT_EQ(script.find(markup), std::string::npos) << markup;
    }
}
