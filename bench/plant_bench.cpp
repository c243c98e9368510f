// (k) The station in the plant's systems: a module paced at 9600 baud on
// every cable at once (32 for the figures), the station serving 16 event
// streams, scraped (/metrics) every second and publishing to a broker on
// loopback, where a subscriber of the bench's own takes every record. The
// station's time against one module's alone, its CPU, and how long a
// module's log line takes to reach the subscriber as its message.
#include "station_clients.h"

#include "plant_bench.h"

#include <mosquitto.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "support/peer_port.h"
#include "support/run_driver.h"

namespace {

const int kStreamClients = 16;
const DWORD kScrapeEveryMs = 1000;
const char kTopic[] = "korvan/bench";

// The broker's side: when each module's record came (ms since the power-on),
// by its port.
struct Subscriber {
    const PacedStation* station = nullptr;
    std::mutex lock;
    std::map<std::string, double> recordMs;
    mosquitto* client = nullptr;

    bool Start(const std::string& host, int port) {
        mosquitto_lib_init();
        client = mosquitto_new(nullptr, true, this);
        if (client == nullptr) {
            return false;
        }
        mosquitto_message_callback_set(
            client, [](mosquitto*, void* self, const mosquitto_message* message) {
                Subscriber* subscriber = static_cast<Subscriber*>(self);
                const std::string payload(static_cast<const char*>(message->payload),
                                          static_cast<size_t>(message->payloadlen));
                std::lock_guard<std::mutex> hold(subscriber->lock);
                subscriber->recordMs.emplace(PortOf(payload), subscriber->station->Ms());
            });
        const std::string topic = std::string(kTopic) + "/module";
        if (mosquitto_connect(client, host.c_str(), port, 30) != MOSQ_ERR_SUCCESS ||
            mosquitto_subscribe(client, nullptr, topic.c_str(), 1) != MOSQ_ERR_SUCCESS ||
            mosquitto_loop_start(client) != MOSQ_ERR_SUCCESS) {
            fprintf(stderr, "korvan-bench: the broker %s:%d cannot be reached\n", host.c_str(),
                    port);
            return false;
        }
        return true;
    }
    ~Subscriber() {
        if (client != nullptr) {
            mosquitto_disconnect(client);
            mosquitto_loop_stop(client, false);
            mosquitto_destroy(client);
        }
    }
};

} // namespace

int RunPlantBench(const Cables& cables, const std::string& script, double oneModuleSeconds,
                  const std::string& brokerHost, int brokerPort) {
    const uint16_t port = FreePort();
    LogWatch log;
    log.path = TempPath("bench-plant.csv");
    DeleteFileA(log.path.c_str());
    PacedStation station;
    Subscriber subscriber;
    subscriber.station = &station;
    if (!subscriber.Start(brokerHost, brokerPort) ||
        !station.Start(cables, "--serve " + std::to_string(port) + " --mqtt " + brokerHost + ":" +
                                   std::to_string(brokerPort) + " --mqtt-topic " + kTopic +
                                   " --log \"" + log.path + "\" firmware \"" + script + "\"")) {
        return 1;
    }
    std::atomic<bool> done{false};
    std::vector<std::unique_ptr<StreamClient>> clients;
    if (!StartClients(&clients, port, &station, &done)) {
        done = true;
        JoinClients(&clients);
        return 1;
    }
    int scrapes = 0, scraped = 0;
    std::thread scraper([&] {
        while (!done.load() && WaitForSingleObject(station.Tool().Handle(), 0) == WAIT_TIMEOUT) {
            ++scrapes;
            scraped += Ask(port, RequestText("GET", "/metrics", port)).status == 200;
            Sleep(kScrapeEveryMs);
        }
    });
    std::thread logWatch([&] { log.Watch(&station, &done); });
    station.PowerOn();
    const StationRun run = station.Finish();
    Sleep(500); // the last records' way to the subscriber
    done = true;
    scraper.join();
    logWatch.join();
    JoinClients(&clients);
    DeleteFileA(log.path.c_str());

    std::vector<double> delays;
    {
        std::lock_guard<std::mutex> hold(subscriber.lock);
        for (const auto& logged : log.lineMs) {
            const auto message = subscriber.recordMs.find(logged.first);
            if (message != subscriber.recordMs.end()) {
                delays.push_back(message->second - logged.second);
            }
        }
    }
    printf("(k) %zu at once serving %d event streams, scraped every %lu ms, publishing: %.1f s, "
           "%.3f x one module's time; tool CPU %.2f s (%.1f %% of one core)\n",
           cables.size(), kStreamClients, kScrapeEveryMs, run.wallSeconds,
           run.wallSeconds / oneModuleSeconds, run.cpuSeconds,
           100 * run.cpuSeconds / run.wallSeconds);
    printf("    a module's line in the log to its message at the subscriber: median %.0f ms, at "
           "most %.0f ms (%zu of %zu records); /metrics answered %d of %d times\n",
           Median(delays), delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end()),
           delays.size(), cables.size(), scraped, scrapes);
    fflush(stdout);
    return run.ok && delays.size() == cables.size() ? 0 : 1;
}
