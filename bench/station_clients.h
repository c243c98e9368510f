// What the benchmarks of a serving station share: a free port, the event
// stream's clients, the watch of the log. Winsock 2 comes before windows.h.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "paced_station.h"

// A port that is free now, for --serve: the tool's error output, which
// names the port it chose, is to be had only once the tool has ended.
uint16_t FreePort();
// The value of "port" in a record's or an event's JSON.
std::string PortOf(const std::string& data);
double Median(std::vector<double> values);

// A client on the event stream: when each module's event came (ms since the
// power-on), by the module's port.
struct StreamClient {
    HttpClient http;
    std::atomic<bool> opened{false};
    std::map<std::string, double> moduleMs;
    std::thread thread;

    void Listen(uint16_t port, const PacedStation* station, const std::atomic<bool>* done);
};
// Connects the stream clients; true once every one of them has its stream.
bool StartClients(std::vector<std::unique_ptr<StreamClient>>* clients, uint16_t port,
                  const PacedStation* station, const std::atomic<bool>* done);
void JoinClients(std::vector<std::unique_ptr<StreamClient>>* clients);

// The station's log: when each module's line came (ms since the power-on),
// by the module's port. The station writes it as it takes the module's
// record, within its main loop's 50 ms of the module's end.
struct LogWatch {
    std::string path;
    std::map<std::string, double> lineMs;

    void Watch(const PacedStation* station, const std::atomic<bool>* done);
};
