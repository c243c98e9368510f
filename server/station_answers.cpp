#include "station_answers.h"

#include "record_paging.h"
#include "served_files.h"
#include "station_json.h"

using nlohmann::json;

namespace {

const char kJson[] = "application/json; charset=utf-8";

Reply Made(int status, const std::string& contentType, std::string body) {
    Reply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", contentType},
                     {"Cache-Control", "no-store"},
                     {"X-Content-Type-Options", "nosniff"}};
    if (contentType.compare(0, 9, "text/html") == 0) {
        // The page takes nothing from elsewhere and is shown in no frame.
        reply.headers.push_back({"Content-Security-Policy",
                                 "default-src 'none'; script-src 'self'; style-src 'self'; "
                                 "connect-src 'self'; img-src 'self'; frame-ancestors 'none'"});
        reply.headers.push_back({"X-Frame-Options", "DENY"});
        reply.headers.push_back({"Referrer-Policy", "no-referrer"});
    }
    reply.body = std::move(body);
    return reply;
}

Reply JsonReply(int status, const json& body) {
    return Made(status, kJson, JsonText(body));
}

Reply Modules(const std::string& target, const StationState& state) {
    std::string afterText = "0", run, limitText;
    QueryValue(target, "run", &run);
    int64_t after = 0;
    size_t limit = kPageRecords;
    if (QueryValue(target, "after", &afterText) &&
        !ResumeAfter(afterText, run, state.Job().run, &after)) {
        return FailureReply(400, "after must be a sequence number (0 or more)");
    }
    if (QueryValue(target, "limit", &limitText) && !PageLimit(limitText, &limit)) {
        return FailureReply(400, "limit must be a number from 1 (at most " +
                                     std::to_string(kPageRecords) + " are given)");
    }
    const int64_t latest = state.Totals().sequence;
    const int64_t first = state.FirstHeld();
    std::vector<ModuleRecord> records = state.RecordsAfter(after, limit + 1);
    const bool more = records.size() > limit;
    if (more) {
        records.pop_back();
    }
    json modules = json::array();
    for (const ModuleRecord& record : records) {
        modules.push_back(RecordJson(record));
    }
    return JsonReply(200, json{{"modules", std::move(modules)},
                               {"sequence", records.empty() ? latest : records.back().sequence},
                               {"first", first},
                               {"more", more},
                               {"run", state.Job().run}});
}

Reply Stream(const std::string& target, const std::string* lastEventId, const std::string& thisRun,
             int64_t knownSequence) {
    // A client that comes back names the last record it had; the page names
    // the first it wants with ?after=N; others begin with what comes next.
    std::string afterText = std::to_string(knownSequence), run;
    if (lastEventId != nullptr) {
        afterText = *lastEventId;
    } else if (QueryValue(target, "after", &afterText)) {
        QueryValue(target, "run", &run);
    }
    int64_t after = 0;
    if (!ResumeAfter(afterText, run, thisRun, &after)) {
        return FailureReply(400, "Last-Event-ID and after must be a sequence number (0 or more), "
                                 "or RUN.SEQUENCE");
    }
    Reply reply = Made(200, "text/event-stream; charset=utf-8", "");
    reply.stream = true;
    reply.streamAfter = after < knownSequence ? after : knownSequence;
    return reply;
}

Reply LogFile(const RequestFacts& request, const StationState& state) {
    const std::string& name = state.Job().logFile;
    if (name.empty()) {
        return FailureReply(404, "this station keeps no log (--log)");
    }
    auto file = std::make_shared<LogFileReader>();
    const std::string problem = file->Open(name);
    if (!problem.empty()) {
        return FailureReply(503, "the log cannot be read: " + problem);
    }
    const ByteRange range = RangeOf(request.hasRange ? &request.range : nullptr, file->Size());
    Reply reply = range.status == 416
                      ? FailureReply(416, "the log has " + std::to_string(file->Size()) +
                                              " bytes: the range begins beyond them")
                      : Made(range.status, "text/csv; charset=utf-8", "");
    reply.headers.push_back({"Accept-Ranges", "bytes"});
    if (range.status != 200) {
        reply.headers.push_back({"Content-Range", ContentRange(range, file->Size())});
    }
    if (range.status != 416) {
        reply.file = std::move(file);
        reply.range = range;
    }
    return reply;
}

} // namespace

Reply FailureReply(int status, const std::string& error, Route route) {
    Reply reply = JsonReply(status, json{{"error", error}});
    if (status == 405) {
        reply.headers.push_back({"Allow", MethodOf(route)});
    }
    if (status == 401) {
        reply.headers.push_back({"WWW-Authenticate", "Bearer"});
    }
    return reply;
}

Reply ReplyTo(const RequestFacts& request, const Verdict& verdict, const std::string& body,
              const std::string* lastEventId, const ReplyContext& context) {
    if (verdict.status != 0) {
        return FailureReply(verdict.status, verdict.error, verdict.route);
    }
    if (verdict.setCookie) {
        // The secret leaves the address bar: the browser goes to / with the cookie.
        Reply reply = Made(303, "text/plain; charset=utf-8", "");
        reply.headers.push_back({"Location", "/"});
        reply.headers.push_back({"Set-Cookie", std::string(kTokenCookie) + "=" + context.cookie +
                                                   "; Path=/; HttpOnly; SameSite=Strict"});
        return reply;
    }
    if (request.method == "POST" && !body.empty() && !json::accept(body)) {
        return FailureReply(400, "the body is not JSON");
    }
    StationState& state = context.state;
    switch (verdict.route) {
    case kPageRoute:
    case kStyleRoute:
    case kScriptRoute: {
        std::string file, type;
        if (!PageFile(verdict.route, &file, &type)) {
            return FailureReply(404, "this program has no page");
        }
        return Made(200, type, std::move(file));
    }
    case kStationRoute: {
        json station = StationNow(state);
        station["mqtt"] = MqttJson(context.mqtt);
        return JsonReply(200, station);
    }
    case kMetricsRoute:
        if (context.tally == nullptr) {
            return FailureReply(404, "this station keeps no metrics");
        }
        context.tally->Update(state);
        return Made(200, "text/plain; version=0.0.4; charset=utf-8",
                    MetricsText(MetricsOf(state, *context.tally, context.mqtt)));
    case kModulesRoute:
        return Modules(request.target, state);
    case kEventsRoute:
        return Stream(request.target, lastEventId, state.Job().run, context.knownSequence);
    case kLogRoute:
        return LogFile(request, state);
    case kStopRoute:
        if (context.stop) {
            context.stop();
        }
        return JsonReply(202, json{{"state", "stopping"}});
    case kPauseRoute:
    case kResumeRoute:
        state.SetPaused(verdict.route == kPauseRoute);
        return JsonReply(200, json{{"state", StationStatusName(state.Status())}});
    case kNoRoute:
        break;
    }
    return FailureReply(404, "no such thing here");
}
