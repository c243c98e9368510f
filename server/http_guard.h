// Who may ask the station's server what: a request's Host must name this
// PC (so that a page elsewhere whose name points at this PC learns and
// changes nothing), it carries the secret when there is one, it asks for a
// path the server has with that path's method, and a POST says its body is
// JSON (which a form of another site's page cannot). The verdict is pure:
// the server hands over the request's facts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the server serves.
enum Route : int {
    kNoRoute,
    kPageRoute,    // GET /
    kStyleRoute,   // GET /page.css
    kScriptRoute,  // GET /page.js
    kStationRoute, // GET /api/station
    kModulesRoute, // GET /api/modules?after=N
    kEventsRoute,  // GET /api/events
    kLogRoute,     // GET /log.csv
    kStopRoute,    // POST /api/stop
    kPauseRoute,   // POST /api/pause
    kResumeRoute,  // POST /api/resume
    kMetricsRoute, // GET /metrics
};

// The route of a request target's path (its query aside).
Route RouteOf(const std::string& target);
// The method a route takes: "GET" or "POST".
const char* MethodOf(Route route);

// The parts of a request the verdict looks at.
struct RequestFacts {
    std::string method;
    std::string target; // path and query, as sent
    bool hasHost = false;
    std::string host;
    std::string authorization;
    std::string cookie;
    std::string contentType;
    bool hasRange = false; // a Range header, for the log's download
    std::string range;
};

struct GuardSettings {
    std::string token;                // empty: no secret is needed
    std::string cookie;               // the cookie's value that stands for the token
    uint16_t port = 0;                // the port served
    std::vector<std::string> pcNames; // this PC's names, and those --serve-host adds
};

struct Verdict {
    int status = 0;    // 0: serve the route; else the failure's status
    std::string error; // the failure in words
    Route route = kNoRoute;
    bool setCookie = false; // GET /?token=SECRET: set the cookie, send the browser to /
};

// localAddress: the address the client reached (the connection's own end).
Verdict Judge(const RequestFacts& request, const std::string& localAddress,
              const GuardSettings& settings);

// The name of a Host header's value (without the port, IPv6 without its
// brackets) and its port (0 when none is given). False when it is no host.
bool SplitHost(const std::string& host, std::string* name, uint16_t* port);

// True when host names this station: the address the client reached,
// "localhost" when that is a loopback address, or one of this PC's names
// (letter case aside), with the port served if a port is given.
bool HostAllowed(const std::string& host, const std::string& localAddress, uint16_t port,
                 const std::vector<std::string>& pcNames);

// Compares a secret in a time that depends on the secret's length only.
bool SameSecret(const std::string& given, const std::string& secret);

// The token of "Bearer TOKEN", empty for anything else.
std::string BearerToken(const std::string& authorization);

// The value of the cookie name in a Cookie header; false when it has none.
bool CookieValue(const std::string& cookies, const std::string& name, std::string* value);

// True when the request carries the secret, as a Bearer token or as the
// cookie that stands for it; also when no secret is needed.
bool ShowsToken(const RequestFacts& request, const GuardSettings& settings);

// The cookie that stands for the secret: its name, and a value made afresh
// for each run of the station (random, so that the secret cannot be read
// from it and a cookie of an earlier run opens nothing).
extern const char kTokenCookie[];
std::string NewCookieValue();

// The query parameter name of a target, percent-decoded; false when the
// target has none.
bool QueryValue(const std::string& target, const std::string& name, std::string* value);

// A sequence number written in decimal: 0 to 2^63 - 1.
bool ParseSequence(const std::string& text, int64_t* value);
