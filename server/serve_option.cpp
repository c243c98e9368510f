#include "serve_option.h"

// inet_pton is the system's own reading of an address: Winsock's on
// Windows, the C library's where the parsers are built natively.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <cstring>

namespace {

// The system reads an address up to its first zero byte: a text that holds
// one is no address, whatever comes before it.
bool IsIpv4(const std::string& text) {
    in_addr bytes;
    return text.find('\0') == std::string::npos && inet_pton(AF_INET, text.c_str(), &bytes) == 1;
}

bool IsIpv6(const std::string& text) {
    in6_addr bytes;
    return text.find('\0') == std::string::npos && inet_pton(AF_INET6, text.c_str(), &bytes) == 1;
}

bool ParsePort(const std::string& text, uint16_t* port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long value = std::stol(text);
    if (value > 65535) {
        return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

} // namespace

std::string ParseServeAddress(const std::string& text, ServeAddress* address) {
    const std::string wanted =
        "--serve wants [ADDRESS:]PORT (PORT 0 to 65535), not \"" + text + "\"";
    ServeAddress parsed;
    std::string portText = text;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) {
            return wanted;
        }
        parsed.address = text.substr(1, close - 1);
        portText = text.substr(close + 2);
        if (!IsIpv6(parsed.address)) {
            return "--serve: \"" + parsed.address + "\" is not an IPv6 address";
        }
    } else if (text.find(':') != std::string::npos) {
        const size_t colon = text.rfind(':');
        parsed.address = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (parsed.address == "localhost") {
            parsed.address = "127.0.0.1";
        } else if (!IsIpv4(parsed.address)) {
            return "--serve: \"" + parsed.address +
                   "\" is not an IPv4 address (an IPv6 address goes in brackets: [::1]:8080)";
        }
    }
    if (!ParsePort(portText, &parsed.port)) {
        return wanted;
    }
    *address = parsed;
    return "";
}

std::string ServeHostProblem(const std::string& name) {
    const bool fits = !name.empty() && name.size() <= 253 && name.front() != '.' &&
                      name.front() != '-' &&
                      name.find_first_not_of(
                          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
                          std::string::npos;
    return fits ? ""
                : "--serve-host wants a host name (letters, digits, dots, dashes), not \"" + name +
                      "\"";
}

bool IsLoopbackAddress(const std::string& address) {
    if (address.find('\0') != std::string::npos) {
        return false;
    }
    in_addr v4;
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        return reinterpret_cast<const uint8_t*>(&v4)[0] == 127;
    }
    in6_addr v6;
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) {
        return false;
    }
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&v6);
    static const uint8_t kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const uint8_t kMappedV4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return memcmp(bytes, kLoopback, 16) == 0 ||
           (memcmp(bytes, kMappedV4, 12) == 0 && bytes[12] == 127);
}

std::string TokenFromFileText(const std::string& text, std::string* token) {
    std::string line = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text;
    line = line.substr(0, line.find_first_of("\r\n"));
    if (line.size() < kTokenLeast) {
        return "its first line has " + std::to_string(line.size()) +
               " characters; the token needs at least " + std::to_string(kTokenLeast);
    }
    *token = line;
    return "";
}

std::string ServeAccessProblem(const ServeAddress& address, bool haveToken) {
    if (IsLoopbackAddress(address.address) || haveToken) {
        return "";
    }
    return "--serve " + UrlHost(address.address) +
           " reaches beyond this PC: give the secret with --serve-token-file FILE";
}

std::string UrlHost(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}
