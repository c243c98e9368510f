// What --serve [ADDRESS:]PORT and --serve-token-file FILE ask of the
// station's server: the address and port it listens on, and the secret that
// every request must carry. A station serves the loopback address unless
// told otherwise, and an address that other PCs reach only with a secret.
#pragma once

#include <cstdint>
#include <string>

struct ServeAddress {
    std::string address = "127.0.0.1"; // an IPv4 address, or an IPv6 one without brackets
    uint16_t port = 0;                 // 0: a free port, chosen when listening
};

// Reads [ADDRESS:]PORT: ADDRESS an IPv4 address, an IPv6 address in
// brackets ("[::1]:8080") or "localhost" (127.0.0.1); PORT 0 to 65535.
// Empty when it could, else what is wrong, for a line of the program's.
std::string ParseServeAddress(const std::string& text, ServeAddress* address);

// Why NAME of --serve-host NAME is no host name (letters, digits, dots and
// dashes, 253 at most); empty when it is one.
std::string ServeHostProblem(const std::string& name);

// True for 127.0.0.0/8 and ::1.
bool IsLoopbackAddress(const std::string& address);

// The secret is the first line of the token file (without its line end and
// a UTF-8 byte-order mark before it): at least this many characters.
enum : size_t { kTokenLeast = 16 };

// The secret of a token file whose bytes are text. Empty when it has one,
// else why not.
std::string TokenFromFileText(const std::string& text, std::string* token);

// Reads the token file name (UTF-8) and gives its secret (token_file.cpp). Empty when it
// could, else why not, naming the file.
std::string ReadTokenFile(const std::string& name, std::string* token);

// Why the server may not serve address as asked: an address other than
// loopback without a token. Empty when it may.
std::string ServeAccessProblem(const ServeAddress& address, bool haveToken);

// The address as a URL's host: IPv6 in brackets.
std::string UrlHost(const std::string& address);
