#include "this_pc_addresses.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>

std::vector<std::string> ThisPcNames() {
    std::vector<std::string> names;
    for (COMPUTER_NAME_FORMAT format :
         {ComputerNameDnsHostname, ComputerNameDnsFullyQualified, ComputerNameNetBIOS}) {
        char name[256];
        DWORD size = sizeof name;
        if (GetComputerNameExA(format, name, &size) && size > 0) {
            names.emplace_back(name, size);
        }
    }
    return names;
}

std::vector<std::string> ThisPcIpv4Addresses() {
    std::vector<std::string> addresses = {"127.0.0.1"};
    char host[256];
    if (gethostname(host, sizeof host) != 0) {
        return addresses;
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0) {
        return addresses;
    }
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(at->ai_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr ||
            reinterpret_cast<const unsigned char*>(&address->sin_addr)[0] == 127) {
            continue; // loopback is first already
        }
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
            addresses.push_back(text);
        }
    }
    freeaddrinfo(found);
    return addresses;
}
