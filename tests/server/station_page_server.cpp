// A station's server on a state that standard input plays, for the test of
// the page in a real browser (station_page_test.py): what a real station
// does not do while it runs, its server going away and coming back. It
// prints the address it serves, then takes one command a line and answers
// "ok" once done:
//
//   pass PORT               the port's module passed
//   fail PORT               the port's module failed
//   cut PORT                the port's module was cut short by a stop
//   pause                   the station is paused
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

// A module of the port done with the outcome.
void Done(StationState& state, size_t index, RunOutcome outcome) {
    ModuleRecord record;
    record.portIndex = index;
    record.report.outcome = outcome;
    record.line.timeUtc = UtcNowText();
    record.line.port = static_cast<int>(index) + 3;
    record.line.job = "firmware";
    record.line.scriptName = state.Job().script;
    record.line.scriptSize = kScriptBytes;
    record.line.scriptSha256 = state.Job().scriptSha256;
    record.line.startup = "Korvan V2.07";
    record.line.exitStatus = record.report.outcome;
    record.line.outcome = outcome == kRunSucceeded     ? "Programming successful"
                          : outcome == kRunInterrupted ? "The run was interrupted"
                                                       : "Korvan could not be programmed";
    record.line.seconds = 41.2;
    state.AddRecord(record);
    state.SetStep(index, "next module: switch it ON");
    state.SetStatus(index, outcome == kRunSucceeded ? kPortPassed : kPortFailed);
}

} // namespace

int main() {
    StationJobInfo job;
    job.job = "firmware";
    job.script = "korvan-fw-2.31.txt";
    job.scriptBytes = kScriptBytes;
    job.scriptSha256 = "9f2c4e1a7b3d5c6e8f0a1b2c3d4e5f60718293a4b5c6d7e8f9a0b1c2d3e4f5a6";
    job.startedUtc = UtcNowText();
    job.station = "line 2";
    job.order = "L-0042";
    job.alarmAfter = 3;
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
        if (command == "pass") {
            Done(state, index, kRunSucceeded);
        } else if (command == "fail") {
            Done(state, index, kNotProgrammed);
        } else if (command == "cut") {
            Done(state, index, kRunInterrupted);
        } else if (command == "pause") {
            state.SetPaused(true);
            for (size_t k = 0; k < state.PortCount(); ++k) {
                state.SetStatus(k, kPortPaused);
                state.SetStep(k, "paused");
            }
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
