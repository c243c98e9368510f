// --serve's [ADDRESS:]PORT and the token file's text. An address taken is
// one the system reads as IPv4 or IPv6, with a port of 0 to 65535, and reads
// again the same from its URL form; one beyond loopback is served only with
// a secret. A token taken is the file's first line, 16 characters or more.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "serve_option.h"

#define CHECK(condition)                                                                           \
    if (!(condition)) {                                                                            \
        fprintf(stderr, "broken: %s\n", #condition);                                               \
        abort();                                                                                   \
    }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    ServeAddress address;
    address.port = 1;
    const std::string problem = ParseServeAddress(text, &address);
    if (!problem.empty()) {
        CHECK(address.address == "127.0.0.1" && address.port == 1); // left as it was
    } else {
        unsigned char bytes[16];
        CHECK(inet_pton(AF_INET, address.address.c_str(), bytes) == 1 ||
              inet_pton(AF_INET6, address.address.c_str(), bytes) == 1);
        ServeAddress again;
        const std::string url = UrlHost(address.address) + ":" + std::to_string(address.port);
        CHECK(ParseServeAddress(url, &again).empty());
        CHECK(again.address == address.address && again.port == address.port);
        CHECK(ServeAccessProblem(address, true).empty());
        CHECK(ServeAccessProblem(address, false).empty() == IsLoopbackAddress(address.address));
    }

    std::string token = "unchanged";
    if (TokenFromFileText(text, &token).empty()) {
        const std::string body = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text;
        CHECK(token.size() >= kTokenLeast);
        CHECK(token.find_first_of("\r\n") == std::string::npos);
        CHECK(body.compare(0, token.size(), token) == 0);
        CHECK(body.size() == token.size() || body[token.size()] == '\r' ||
              body[token.size()] == '\n');
    } else {
        CHECK(token == "unchanged");
    }
    return 0;
}
