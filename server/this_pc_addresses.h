// This PC as the server's clients reach it: its names (for the Host check)
// and its IPv4 addresses (for the lines that say where it serves when it
// listens on every address).
#pragma once

#include <string>
#include <vector>

// The PC's DNS host name, its fully qualified name and its NetBIOS name.
std::vector<std::string> ThisPcNames();

// 127.0.0.1 first, then each further IPv4 address of the PC's, once.
// Winsock must be started.
std::vector<std::string> ThisPcIpv4Addresses();
