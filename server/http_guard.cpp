#include "http_guard.h"

#include <cctype>

#include "run_id.h"

const char kTokenCookie[] = "korvan_token";

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsLoopbackText(const std::string& address) {
    return address.compare(0, 4, "127.") == 0 || address == "::1" ||
           address.compare(0, 11, "::ffff:127.") == 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool IsJson(const std::string& contentType) {
    const std::string media = Lower(Trimmed(contentType.substr(0, contentType.find(';'))));
    return media == "application/json";
}

Verdict Refuse(int status, const std::string& error, Route route = kNoRoute) {
    Verdict verdict;
    verdict.status = status;
    verdict.error = error;
    verdict.route = route;
    return verdict;
}

} // namespace

Route RouteOf(const std::string& target) {
    static const struct {
        const char* path;
        Route route;
    } kRoutes[] = {
        {"/", kPageRoute},
        {"/page.css", kStyleRoute},
        {"/page.js", kScriptRoute},
        {"/api/station", kStationRoute},
        {"/api/modules", kModulesRoute},
        {"/api/events", kEventsRoute},
        {"/log.csv", kLogRoute},
        {"/api/stop", kStopRoute},
        {"/api/pause", kPauseRoute},
        {"/api/resume", kResumeRoute},
        {"/metrics", kMetricsRoute},
    };
    const std::string path = target.substr(0, target.find('?'));
    for (const auto& entry : kRoutes) {
        if (path == entry.path) {
            return entry.route;
        }
    }
    return kNoRoute;
}

const char* MethodOf(Route route) {
    return route == kStopRoute || route == kPauseRoute || route == kResumeRoute ? "POST" : "GET";
}

bool SplitHost(const std::string& host, std::string* name, uint16_t* port) {
    std::string portText;
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) {
            return false;
        }
        *name = host.substr(1, close - 1);
        const std::string rest = host.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') {
            return false;
        }
        portText = rest.empty() ? "" : rest.substr(1);
    } else {
        const size_t colon = host.find(':');
        *name = host.substr(0, colon);
        portText = colon == std::string::npos ? "" : host.substr(colon + 1);
        if (colon != std::string::npos && portText.empty()) {
            return false;
        }
    }
    *port = 0;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
            std::stol(portText) > 65535) {
            return false;
        }
        *port = static_cast<uint16_t>(std::stol(portText));
    }
    return !name->empty();
}

bool HostAllowed(const std::string& host, const std::string& localAddress, uint16_t port,
                 const std::vector<std::string>& pcNames) {
    std::string name;
    uint16_t hostPort = 0;
    if (!SplitHost(host, &name, &hostPort) || (hostPort != 0 && hostPort != port)) {
        return false;
    }
    name = Lower(name);
    if (name == Lower(localAddress) || (name == "localhost" && IsLoopbackText(localAddress))) {
        return true;
    }
    for (const std::string& pcName : pcNames) {
        if (!pcName.empty() && name == Lower(pcName)) {
            return true;
        }
    }
    return false;
}

bool SameSecret(const std::string& given, const std::string& secret) {
    // Every byte of the secret is compared, whatever came before.
    unsigned difference = given.size() == secret.size() ? 0 : 1;
    for (size_t at = 0; at < secret.size(); ++at) {
        const unsigned char mine = static_cast<unsigned char>(secret[at]);
        const unsigned char theirs = at < given.size() ? static_cast<unsigned char>(given[at]) : 0;
        difference |= static_cast<unsigned>(mine ^ theirs);
    }
    return difference == 0 && !secret.empty();
}

std::string BearerToken(const std::string& authorization) {
    const std::string text = Trimmed(authorization);
    if (text.size() < 7 || Lower(text.substr(0, 7)) != "bearer ") {
        return "";
    }
    return Trimmed(text.substr(7));
}

bool CookieValue(const std::string& cookies, const std::string& name, std::string* value) {
    size_t at = 0;
    while (at <= cookies.size()) {
        const size_t end = cookies.find(';', at);
        const std::string pair =
            Trimmed(cookies.substr(at, end == std::string::npos ? end : end - at));
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.substr(0, equals) == name) {
            *value = pair.substr(equals + 1);
            return true;
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return false;
}

std::string NewCookieValue() {
    static const char kDigits[] = "0123456789abcdef";
    unsigned char random[32] = {};
    if (!RandomBytes(random, sizeof random)) {
        return ""; // no cookie opens anything
    }
    std::string value;
    for (unsigned char c : random) {
        value += kDigits[c >> 4];
        value += kDigits[c & 15];
    }
    return value;
}

bool ShowsToken(const RequestFacts& request, const GuardSettings& settings) {
    if (settings.token.empty()) {
        return true;
    }
    const std::string given = BearerToken(request.authorization);
    std::string cookie;
    return (!given.empty() && SameSecret(given, settings.token)) ||
           (!settings.cookie.empty() && CookieValue(request.cookie, kTokenCookie, &cookie) &&
            SameSecret(cookie, settings.cookie));
}

bool QueryValue(const std::string& target, const std::string& name, std::string* value) {
    const size_t question = target.find('?');
    if (question == std::string::npos) {
        return false;
    }
    const std::string query = target.substr(question + 1);
    size_t at = 0;
    while (at <= query.size()) {
        const size_t end = query.find('&', at);
        const std::string pair = query.substr(at, end == std::string::npos ? end : end - at);
        const size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            const std::string raw = equals == std::string::npos ? "" : pair.substr(equals + 1);
            std::string decoded;
            for (size_t k = 0; k < raw.size(); ++k) {
                if (raw[k] == '%' && k + 2 < raw.size() && HexValue(raw[k + 1]) >= 0 &&
                    HexValue(raw[k + 2]) >= 0) {
                    decoded += static_cast<char>(HexValue(raw[k + 1]) * 16 + HexValue(raw[k + 2]));
                    k += 2;
                } else {
                    decoded += raw[k];
                }
            }
            *value = decoded;
            return true;
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return false;
}

bool ParseSequence(const std::string& text, int64_t* value) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::stoll(text);
    return true;
}

Verdict Judge(const RequestFacts& request, const std::string& localAddress,
              const GuardSettings& settings) {
    if (!request.hasHost) {
        return Refuse(400, "the request has no Host header");
    }
    if (!HostAllowed(request.host, localAddress, settings.port, settings.pcNames)) {
        return Refuse(421, "this station is not \"" + request.host.substr(0, 100) + "\"");
    }
    const Route route = RouteOf(request.target);
    Verdict verdict;
    verdict.route = route;
    if (!settings.token.empty()) {
        const std::string given = BearerToken(request.authorization);
        std::string cookie;
        CookieValue(request.cookie, kTokenCookie, &cookie);
        const bool known = ShowsToken(request, settings);
        std::string queried;
        if (route == kPageRoute && request.method == "GET" &&
            QueryValue(request.target, "token", &queried)) {
            if (!SameSecret(queried, settings.token)) {
                return Refuse(401, "wrong token");
            }
            verdict.setCookie = true;
            return verdict;
        }
        if (!known) {
            return Refuse(401,
                          given.empty() && cookie.empty() ? "a token is needed" : "wrong token");
        }
    }
    if (route == kNoRoute) {
        return Refuse(404, "no such thing here: " + request.target.substr(0, 100));
    }
    if (request.method != MethodOf(route)) {
        return Refuse(405, std::string("use ") + MethodOf(route), route);
    }
    if (request.method == "POST" && !IsJson(request.contentType)) {
        return Refuse(400, "a POST needs Content-Type: application/json", route);
    }
    return verdict;
}
