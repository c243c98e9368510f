// Winsock 2 before windows.h, which would bring the old Winsock.
#include <winsock2.h>

#include "serve_bench.h"
#include "station_clients.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <thread>

#include "http_client.h"
#include "support/peer_port.h"
#include "support/run_driver.h"

namespace {

const int kStreamClients = 16;
const DWORD kStationEveryMs = 100;
const char kStopEvent[] = "korvan-bench-stop";

} // namespace

uint16_t FreePort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    uint16_t port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    closesocket(probe);
    return port;
}

std::string PortOf(const std::string& data) {
    const std::string key = "\"port\":\"";
    const size_t at = data.find(key);
    return at == std::string::npos
               ? ""
               : data.substr(at + key.size(), data.find('"', at + key.size()) - at - key.size());
}

void StreamClient::Listen(uint16_t port, const PacedStation* station,
                          const std::atomic<bool>* done) {
    HttpAnswer head;
    opened = http.Connect(port) && http.Send(RequestText("GET", "/api/events", port)) &&
             http.ReadHead(&head) && head.status == 200;
    StreamEvent event;
    while (opened && !done->load()) {
        const ULONGLONG askedMs = GetTickCount64();
        if (http.NextEvent(&event, 200)) {
            if (event.type == "module") {
                moduleMs.emplace(PortOf(event.data), station->Ms());
            }
        } else if (GetTickCount64() - askedMs < 100) {
            Sleep(100); // the stream has ended
        }
    }
}

void LogWatch::Watch(const PacedStation* station, const std::atomic<bool>* done) {
    DWORD size = 0;
    while (!done->load()) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
            data.nFileSizeLow != size) {
            size = data.nFileSizeLow;
            const double ms = station->Ms();
            // Whole lines after the header: time_utc,port,...
            const std::string text = ReadWholeFile(path);
            size_t line = text.find('\n');
            for (size_t end; line != std::string::npos &&
                             (end = text.find('\n', line + 1)) != std::string::npos;
                 line = end) {
                const size_t port = text.find(',', line) + 1;
                lineMs.emplace(text.substr(port, text.find(',', port) - port), ms);
            }
        }
        Sleep(2);
    }
}

bool StartClients(std::vector<std::unique_ptr<StreamClient>>* clients, uint16_t port,
                  const PacedStation* station, const std::atomic<bool>* done) {
    for (int k = 0; k < kStreamClients; ++k) {
        clients->push_back(std::make_unique<StreamClient>());
        StreamClient* client = clients->back().get();
        client->thread = std::thread([=] { client->Listen(port, station, done); });
    }
    // A stream is open once its head has come; give them a moment.
    for (int wait = 0; wait < 50; ++wait) {
        Sleep(100);
        int opened = 0;
        for (const auto& client : *clients) {
            opened += client->opened ? 1 : 0;
        }
        if (opened == kStreamClients) {
            return true;
        }
    }
    fprintf(stderr, "not every event stream opened\n");
    return false;
}

void JoinClients(std::vector<std::unique_ptr<StreamClient>>* clients) {
    for (auto& client : *clients) {
        client->thread.join();
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The station's CPU over idleSeconds while it waits for modules, from its
// OFF/ON request on; with serve, serving the stream clients. Negative when
// it failed.
namespace {

double IdleCpuSeconds(const Cables& cables, const std::string& script, int idleSeconds,
                      bool serve) {
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, kStopEvent);
    const uint16_t port = FreePort();
    PacedStation station;
    std::atomic<bool> done{false};
    std::vector<std::unique_ptr<StreamClient>> clients;
    const std::string serving = serve ? "--serve " + std::to_string(port) + " " : "";
    bool ok = station.Start(cables,
                            "--repeat --stop-event " + std::string(kStopEvent) + " " + serving +
                                "firmware \"" + script + "\"",
                            false) &&
              (!serve || StartClients(&clients, port, &station, &done));
    const double before = ProcessCpuSeconds(station.Tool().Handle());
    if (ok) {
        Sleep(static_cast<DWORD>(idleSeconds) * 1000);
    }
    const double cpu = ProcessCpuSeconds(station.Tool().Handle()) - before;
    SetEvent(stop);
    ok = station.Finish().ok && ok;
    done = true;
    JoinClients(&clients);
    CloseHandle(stop);
    return ok ? cpu : -1;
}

} // namespace

int RunServeBench(const Cables& cables, const std::string& script, double oneModuleSeconds,
                  int idleSeconds) {
    const uint16_t port = FreePort();
    LogWatch log;
    log.path = TempPath("bench-serve.csv");
    DeleteFileA(log.path.c_str());
    PacedStation station;
    if (!station.Start(cables, "--serve " + std::to_string(port) + " --log \"" + log.path +
                                   "\" firmware \"" + script + "\"")) {
        return 1;
    }
    std::atomic<bool> done{false};
    std::vector<std::unique_ptr<StreamClient>> clients;
    if (!StartClients(&clients, port, &station, &done)) {
        done = true;
        JoinClients(&clients);
        return 1;
    }
    int stationAnswers = 0, stationAsked = 0;
    std::thread reader([&] {
        while (!done.load() && WaitForSingleObject(station.Tool().Handle(), 0) == WAIT_TIMEOUT) {
            ++stationAsked;
            stationAnswers += Ask(port, RequestText("GET", "/api/station", port)).status == 200;
            Sleep(kStationEveryMs);
        }
    });
    std::thread logWatch([&] { log.Watch(&station, &done); });
    station.PowerOn();
    const StationRun run = station.Finish();
    done = true;
    reader.join();
    logWatch.join();
    JoinClients(&clients);

    std::vector<double> delays;
    for (size_t k = 0; k < cables.size(); ++k) {
        const std::string name = "COM" + std::to_string(cables[k].first);
        for (const auto& client : clients) {
            const auto event = client->moduleMs.find(name);
            const auto logged = log.lineMs.find(name);
            if (event != client->moduleMs.end() && logged != log.lineMs.end()) {
                delays.push_back(event->second - logged->second);
            }
        }
    }
    const size_t expected = cables.size() * kStreamClients;
    printf("(j) %zu at once serving %d event streams and /api/station every %lu ms: %.1f s, "
           "%.3f x one module's time; tool CPU %.2f s (%.1f %% of one core)\n",
           cables.size(), kStreamClients, kStationEveryMs, run.wallSeconds,
           run.wallSeconds / oneModuleSeconds, run.cpuSeconds,
           100 * run.cpuSeconds / run.wallSeconds);
    DeleteFileA(log.path.c_str());
    printf("    a module's line in the log to its event at a client: median %.0f ms, at most %.0f "
           "ms (%zu "
           "of %zu events); /api/station answered %d of %d times\n",
           Median(delays), delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end()),
           delays.size(), expected, stationAnswers, stationAsked);
    fflush(stdout);
    if (!run.ok || delays.size() != expected) {
        return 1;
    }

    const double alone = IdleCpuSeconds(cables, script, idleSeconds, false);
    const double serving = alone < 0 ? -1 : IdleCpuSeconds(cables, script, idleSeconds, true);
    if (serving < 0) {
        return 1;
    }
    printf("    waiting for modules %d s: the station %.2f s of CPU without a server, %.2f s "
           "serving %d idle event streams: the server %.2f %% of one core\n",
           idleSeconds, alone, serving, kStreamClients, 100 * (serving - alone) / idleSeconds);
    return 0;
}
