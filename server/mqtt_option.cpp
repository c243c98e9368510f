#include "mqtt_option.h"

#include <windows.h>

#include "short_file.h"

namespace {

bool ParsePort(const std::string& text, uint16_t* port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long value = std::stol(text);
    if (value < 1 || value > 65535) {
        return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

// The next line of text from *at on, without its line end.
std::string NextLine(const std::string& text, size_t* at) {
    const size_t end = text.find('\n', *at);
    std::string line = text.substr(*at, end == std::string::npos ? std::string::npos : end - *at);
    *at = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

} // namespace

std::string ParseMqttAddress(const std::string& text, MqttSettings* settings) {
    const std::string wrong = "--mqtt " + text + ": not HOST[:PORT] with PORT 1 to 65535";
    std::string host = text;
    std::string port;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) {
            return wrong;
        }
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                return wrong;
            }
            port = rest.substr(1);
            if (port.empty()) {
                return wrong;
            }
        }
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string::npos) {
            if (text.find(':', colon + 1) != std::string::npos) {
                return wrong; // an IPv6 address needs its brackets
            }
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            if (port.empty()) {
                return wrong;
            }
        }
    }
    if (host.empty() || host.find_first_of(" /\\@") != std::string::npos) {
        return wrong;
    }
    uint16_t number = 1883;
    if (!port.empty() && !ParsePort(port, &number)) {
        return wrong;
    }
    settings->host = host;
    settings->port = number;
    return "";
}

std::string TakeTopicPrefix(const std::string& text, MqttSettings* settings) {
    std::string prefix = text;
    while (!prefix.empty() && prefix.back() == '/') {
        prefix.pop_back();
    }
    if (prefix.empty()) {
        return "--mqtt-topic: the prefix is empty";
    }
    if (prefix.find_first_of(std::string("+#\0", 3)) != std::string::npos) {
        return "--mqtt-topic " + text + ": a topic to publish to holds no '+' or '#'";
    }
    if (prefix.size() > 200) {
        return "--mqtt-topic: the prefix is longer than 200 bytes";
    }
    settings->prefix = prefix;
    return "";
}

std::string CredentialsFromText(const std::string& text, MqttSettings* settings) {
    size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::string user = NextLine(text, &at);
    const std::string password = NextLine(text, &at);
    if (user.empty()) {
        return "its first line, the user, is empty";
    }
    if (text.find('\0') != std::string::npos) {
        return "it is not text";
    }
    settings->user = user;
    settings->password = password;
    return "";
}

std::string ReadCredentialsFile(const std::string& name, MqttSettings* settings) {
    std::string text;
    if (!ReadShortFile(name, 4096, &text)) {
        return "the credentials file \"" + name + "\" cannot be read";
    }
    const std::string problem = CredentialsFromText(text, settings);
    return problem.empty() ? "" : "the credentials file \"" + name + "\": " + problem;
}

std::string StationName(const StationState& state) {
    if (!state.Job().station.empty()) {
        return state.Job().station;
    }
    char name[256];
    DWORD size = sizeof name;
    if (GetComputerNameExA(ComputerNameDnsHostname, name, &size) && size > 0) {
        return std::string(name, size);
    }
    size = sizeof name;
    return GetComputerNameA(name, &size) && size > 0 ? std::string(name, size) : "station";
}

std::string DefaultTopicPrefix(const std::string& stationName) {
    std::string name = stationName;
    for (char& c : name) {
        if (c == '+' || c == '#' || c == '/' || c == '\0') {
            c = '_';
        }
    }
    return "korvan/" + name;
}
