// A request to the station's server, as a client sends it: the request
// line, header lines, a blank line and the body. Each is judged with and
// without a secret, reached on loopback and on the line's network, and
// answered over a station's state. A refused request never reaches an
// answer (no stop, no pause, its failure and nothing else); one let through
// carried the secret, named this station and asked with its route's method;
// every JSON answer parses.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http_guard.h"
#include "station_answers.h"
#include "station_json.h"

#define CHECK(condition)                                                                           \
    if (!(condition)) {                                                                            \
        fprintf(stderr, "broken: %s\n", #condition);                                               \
        abort();                                                                                   \
    }

using nlohmann::json;

namespace {

const char kSecret[] = "7f3e9c1a5b2d48e6a0c4f1b9d3e7a2c5";
// The cookie that stands for the secret in this run.
const char kCookie[] = "9d0b6e2f4a8c1e3b5d7f9a0c2e4b6d8f";

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string NextLine(const std::string& text, size_t* at) {
    size_t end = text.find('\n', *at);
    if (end == std::string::npos) {
        end = text.size();
    }
    std::string line = text.substr(*at, end - *at);
    *at = end < text.size() ? end + 1 : end;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

struct Request {
    RequestFacts facts;
    bool hasLastEventId = false;
    std::string lastEventId;
    std::string body;
};

// The request as the server's HTTP library hands it over: header names in
// any case, values without the blanks around them.
Request ReadRequest(const std::string& text) {
    Request request;
    size_t at = 0;
    const std::string first = NextLine(text, &at);
    const size_t space = first.find(' ');
    request.facts.method = first.substr(0, space);
    if (space != std::string::npos) {
        const std::string rest = first.substr(space + 1);
        request.facts.target = rest.substr(0, rest.find(' '));
    }
    while (at < text.size()) {
        const std::string line = NextLine(text, &at);
        if (line.empty()) {
            break;
        }
        const size_t colon = line.find(':');
        const std::string name = Lower(line.substr(0, colon));
        std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t") + 1);
        if (name == "host") {
            request.facts.hasHost = true;
            request.facts.host = value;
        } else if (name == "authorization") {
            request.facts.authorization = value;
        } else if (name == "cookie") {
            request.facts.cookie = value;
        } else if (name == "content-type") {
            request.facts.contentType = value;
        } else if (name == "last-event-id") {
            request.hasLastEventId = true;
            request.lastEventId = value;
        }
    }
    request.body = text.substr(at);
    return request;
}

StationState& State() {
    static StationState* state = [] {
        StationJobInfo job;
        job.job = "profibus-id";
        job.profibusId = 42;
        job.startedUtc = "2026-12-08T11:00:00Z";
        job.logFile = "modules.csv";
        auto* made = new StationState({3, 4}, job);
        for (int k = 0; k < 2; ++k) {
            ModuleRecord record;
            record.line.timeUtc = "2026-12-08T11:30:00Z";
            record.line.port = 3 + k;
            record.line.job = "profibus-id";
            record.line.startup = k == 0 ? "Korvan V2.07" : "<b>\xFF\xFE";
            made->AddRecord(record);
        }
        return made;
    }();
    return *state;
}

std::string HeaderOf(const Reply& reply, const std::string& name) {
    for (const auto& header : reply.headers) {
        if (header.first == name) {
            return header.second;
        }
    }
    return "";
}

bool Carried(const Request& request, const Verdict& verdict) {
    const RequestFacts& facts = request.facts;
    std::string cookie, queried;
    return BearerToken(facts.authorization) == kSecret ||
           (CookieValue(facts.cookie, kTokenCookie, &cookie) && cookie == kCookie) ||
           (verdict.setCookie && QueryValue(facts.target, "token", &queried) && queried == kSecret);
}

void Answer(const Request& request, const std::string& token, const std::string& localAddress) {
    GuardSettings settings;
    settings.token = token;
    settings.cookie = kCookie;
    settings.port = 8080;
    settings.pcNames = {"STATION-PC"};
    const Verdict verdict = Judge(request.facts, localAddress, settings);

    int stops = 0;
    StationState& state = State();
    state.SetPaused(false);
    const ReplyContext context{state, kCookie, [&stops] { ++stops; }, state.Totals().sequence};
    const Reply reply = ReplyTo(request.facts, verdict, request.body,
                                request.hasLastEventId ? &request.lastEventId : nullptr, context);

    const std::string type = HeaderOf(reply, "Content-Type");
    if (type.compare(0, 16, "application/json") == 0) {
        try {
            const json body = json::parse(reply.body);
            CHECK(body.is_object());
            CHECK(verdict.status == 0 || (body.size() == 1 && body["error"].is_string()));
        } catch (const json::exception&) {
            fprintf(stderr, "an answer that is no JSON: %s\n", reply.body.c_str());
            abort();
        }
    }
    CHECK(HeaderOf(reply, "Set-Cookie").empty() == !verdict.setCookie || verdict.status != 0);
    CHECK(reply.headers.size() >= 3);
    if (verdict.status != 0) {
        CHECK(verdict.status == 400 || verdict.status == 401 || verdict.status == 404 ||
              verdict.status == 405 || verdict.status == 421);
        CHECK(reply.status == verdict.status && !reply.stream && stops == 0 && !state.Paused());
        CHECK(HeaderOf(reply, "Set-Cookie").empty());
        return;
    }
    CHECK(request.facts.hasHost &&
          HostAllowed(request.facts.host, localAddress, settings.port, settings.pcNames));
    CHECK(token.empty() || Carried(request, verdict));
    if (verdict.setCookie) {
        CHECK(reply.status == 303 && request.facts.method == "GET");
        return;
    }
    CHECK(verdict.route != kNoRoute && request.facts.method == MethodOf(verdict.route));
    if (request.facts.method == "POST") {
        CHECK(Lower(request.facts.contentType).find("application/json") != std::string::npos);
    }
    CHECK(stops == (verdict.route == kStopRoute && reply.status == 202 ? 1 : 0));
    CHECK(reply.stream == (verdict.route == kEventsRoute && reply.status == 200));
    if (reply.stream) {
        CHECK(reply.streamAfter >= 0 && reply.streamAfter <= state.Totals().sequence);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Request request = ReadRequest(std::string(reinterpret_cast<const char*>(data), size));
    for (const char* token : {"", kSecret}) {
        for (const char* local : {"127.0.0.1", "10.0.0.5", "::1"}) {
            Answer(request, token, local);
        }
    }
    return 0;
}
