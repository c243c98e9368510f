// The station's HTTP server: the live page, the station's state and module
// records as JSON, an event stream of the ports' changes and the modules
// done, pause, resume and stop for a line controller, and the log file.
// It runs on a thread of its own and only reads the station's state (but for
// the pause), so no client ever makes a port wait. The interface:
//
//   GET  /                  the page (and /page.css, /page.js)
//   GET  /api/station       the station and its ports
//   GET  /api/modules?after=N   the module records after sequence N
//   GET  /api/events        Server-Sent Events: "station", "port" and
//                           "module" events (a module's id: its sequence);
//                           Last-Event-ID: N (or ?after=N) first sends the
//                           records after N
//   POST /api/stop, /api/pause, /api/resume
//   GET  /log.csv           the log file as written so far
//
// Closed to others: the Host header must name this PC, a secret (when
// given) must come as "Authorization: Bearer SECRET" or as the cookie that
// GET /?token=SECRET sets, a POST must be JSON, and no response carries CORS
// headers. Failures are JSON {"error": "TEXT"} with their status.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mqtt_condition.h"
#include "serve_option.h"
#include "station_state.h"

class ServerCore;

struct ServerSettings {
    ServeAddress address;
    std::string token;                   // empty: none needed
    std::function<void()> stop;          // what POST /api/stop does
    const MqttCondition* mqtt = nullptr; // the broker's, shown when the station publishes

    // Bounds on clients.
    size_t headLimit = 8 * 1024;            // a request head's bytes (else 431)
    size_t bodyLimit = 4 * 1024;            // a request body's bytes (else 413)
    int connectionLimit = 32;               // connections at once (the next gets 503)
    DWORD requestTimeMs = 5000;             // for a whole request to arrive (else 400)
    DWORD writeTimeMs = 10000;              // for a client to take a response
    size_t streamBacklogLimit = 256 * 1024; // bytes of events waiting for a client (else dropped)
    DWORD keepAliveMs = 15000;              // an idle event stream gets a comment line
    DWORD portEventGapMs = 100;             // between two events of a port: 10 a second
    DWORD watchMs = 50;                     // how often the state is looked at
    DWORD stopLimitMs = 500;                // Stop's bound
};

class StationServer {
  public:
    StationServer(StationState& state, const ServerSettings& settings);
    ~StationServer();
    StationServer(const StationServer&) = delete;
    StationServer& operator=(const StationServer&) = delete;

    // Listens and begins serving on a thread of its own. Empty when it
    // does, else one line why not (the port in use, an address that is not
    // this PC's).
    std::string Start();
    // The address served, "http://127.0.0.1:8080/", with the port chosen.
    std::string Url() const;
    uint16_t Port() const;

    // Sends what the event streams have not had yet (the station ended, its
    // last modules), then closes every connection and ends the thread:
    // within settings.stopLimitMs, whatever the clients do.
    void Stop();

    // Connections open now (for tests).
    int Connections() const;

  private:
    std::shared_ptr<ServerCore> core_;
};
