// A station's server on a state that standard input plays, for the test of
// the page in a real browser (station_page_test.py). It prints the address
// it serves, then takes one command a line and answers "ok" once done:
//
//   program PORT PERCENT    the port's download stands at PERCENT
//   pass PORT               the port's module passed
//   fail PORT TEXT          the port's module failed; TEXT its start-up output
//   down                    the server stops
//   up                      the server serves again, on the same port
//   end                     the station ends; the server stops, the program too
//
// PORT is the port's index: 0 for COM3, 1 for COM4.
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "station_server.h"

namespace {

const int32_t kScriptBytes = 18432;

std::unique_ptr<StationServer> Serve(StationState& state, uint16_t port) {
    ServerSettings settings;
    settings.address.port = port;
    settings.stop = [] {};
    auto server = std::make_unique<StationServer>(state, settings);
    const std::string problem = server->Start();
    if (!problem.empty()) {
        fprintf(stderr, "station_page_server: %s\n", problem.c_str());
        return nullptr;
    }
    return server;
}

void Finish(StationState& state, size_t index, bool passed, const std::string& startup) {
    ModuleRecord record;
    record.portIndex = index;
    record.report.outcome = passed ? kRunSucceeded : kNoAnswer;
    record.line.timeUtc = UtcNowText();
    record.line.port = static_cast<int>(index) + 3;
    record.line.job = "firmware";
    record.line.scriptName = state.Job().script;
    record.line.scriptSize = kScriptBytes;
    record.line.scriptSha256 = state.Job().scriptSha256;
    record.line.startup = startup;
    record.line.exitStatus = record.report.outcome;
    record.line.outcome = passed ? "Programming successful" : "Korvan does not answer";
    record.line.detail = passed ? "" : "no acknowledgement after script byte 223 within 700 ms";
    record.line.seconds = passed ? 41.2 : 12.9;
    state.AddRecord(record);
    state.SetProgress(index, 0, 0);
    state.SetStep(index, "next module: switch it ON");
    state.SetStatus(index, passed ? kPortPassed : kPortFailed);
}

} // namespace

int main() {
    StationJobInfo job;
    job.job = "firmware";
    job.script = "korvan-fw-2.31.txt";
    job.scriptBytes = kScriptBytes;
    job.scriptSha256 = "9f2c4e1a7b3d5c6e8f0a1b2c3d4e5f60718293a4b5c6d7e8f9a0b1c2d3e4f5a6";
    job.startedUtc = UtcNowText();
    StationState state({3, 4}, job);
    std::unique_ptr<StationServer> server = Serve(state, 0);
    if (!server) {
        return 1;
    }
    const uint16_t port = server->Port();
    printf("%s\n", server->Url().c_str());
    fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        size_t index = 0;
        words >> command >> index;
        if (index >= state.PortCount()) {
            index = 0;
        }
        if (command == "program") {
            int percent = 0;
            words >> percent;
            state.SetStatus(index, kPortProgramming);
            state.SetStep(index, "Sending the script");
            state.SetProgress(index, kScriptBytes / 100 * percent, kScriptBytes);
        } else if (command == "pass" || command == "fail") {
            std::string startup;
            std::getline(words >> std::ws, startup);
            Finish(state, index, command == "pass", startup);
        } else if (command == "down") {
            server.reset();
        } else if (command == "up") {
            server = Serve(state, port);
            if (!server) {
                return 1;
            }
        } else if (command == "end") {
            for (size_t k = 0; k < state.PortCount(); ++k) {
                state.SetStatus(k, kPortEnded);
            }
            state.SetStationStatus(kStationEnded);
            if (server) {
                server->Stop();
            }
            printf("ok\n");
            return 0;
        }
        printf("ok\n");
        fflush(stdout);
    }
    return 0;
}
