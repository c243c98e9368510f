// What --mqtt HOST[:PORT], --mqtt-topic PREFIX and --mqtt-credentials FILE
// ask of the station's publisher: the plant's broker, the topics' prefix and
// the login. No TLS: the broker is meant to stand on the line's own network.
#pragma once

#include <cstdint>
#include <string>

#include "station_state.h"

struct MqttSettings {
    std::string host; // a name, an IPv4 address, or an IPv6 one without brackets
    uint16_t port = 1883;
    std::string prefix; // the topics' prefix, without a trailing '/'
    std::string user;   // empty: no login
    std::string password;
    int keepAliveSeconds = 10; // the broker sends the will after 1.5 times this
};

// Reads HOST[:PORT] (IPv6 in brackets: "[::1]:1883"); PORT 1 to 65535, 1883
// unless given. Empty when it could, else what is wrong.
std::string ParseMqttAddress(const std::string& text, MqttSettings* settings);

// A topic prefix the station may publish under: not empty, no wildcard
// ('+', '#'), no NUL, at most 200 bytes. A trailing '/' is dropped. Empty
// when it may, else what is wrong.
std::string TakeTopicPrefix(const std::string& text, MqttSettings* settings);

// The credentials file's text: the user on the first line, the password on
// the second (a UTF-8 byte-order mark and the line ends aside). Empty when
// it has a user, else what is wrong.
std::string CredentialsFromText(const std::string& text, MqttSettings* settings);
// Reads the credentials file name (UTF-8). Empty when it could, else why not.
std::string ReadCredentialsFile(const std::string& name, MqttSettings* settings);

// The station's name as the plant's systems know it: the topics' default
// prefix korvan/NAME and the metrics' station label: --station, else this
// PC's name.
std::string StationName(const StationState& state);

// The default prefix: "korvan/" and the station's name, with what a topic
// may not hold ('+', '#', '/') turned into '_'.
std::string DefaultTopicPrefix(const std::string& stationName);
