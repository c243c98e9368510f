// The station's HTTP server: the live page, the station's state and module
// records as JSON, an event stream of the ports' changes and the modules
// done, pause, resume and stop for a line controller, and the log file.
// It runs on a thread of its own and only reads the station's state (but for
// the pause), so no client ever makes a port wait. The interface:
//
//   GET  /                  the page (and /page.css, /page.js)
//   GET  /api/station       the station and its ports
//   GET  /api/modules?after=N&limit=M   a page of the module records after
//                           sequence N (of the last 10,000 held)
//   GET  /api/events        Server-Sent Events: "station", "port" and
//                           "module" events (a module's id: RUN.SEQUENCE);
//                           Last-Event-ID: RUN.N (or ?after=N&run=RUN) first
//                           sends the records after N, or every record held
//                           of this run when RUN is another
//   POST /api/stop, /api/pause, /api/resume
//   GET  /log.csv           the log file as written so far, streamed; a
//                           Range "bytes=N-" gives it from byte N (206)
//
// Connections are judged by what they send: one that sends no complete
// request head within 2 s is closed, the limit counts those that hold a
// request or a stream, and a full table makes room for a request with the
// secret by closing one without it. A failure inside the server (an
// allocation, an exception) ends its connection, is noted as one line, and
// the server goes on.
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
#include <vector>

#include "mqtt_condition.h"
#include "serve_option.h"
#include "station_state.h"

class ServerCore;

struct ServerSettings {
    ServeAddress address;
    std::string token;                  // empty: none needed
    std::vector<std::string> hostNames; // names the Host header may carry besides this PC's
    std::function<void()> stop;         // what POST /api/stop does
    // A failure inside the server, as one plain line (on the server's thread).
    std::function<void(const std::string&)> note;
    const MqttCondition* mqtt = nullptr; // the broker's, shown when the station publishes

    // Bounds on clients.
    size_t headLimit = 8 * 1024;            // a request head's bytes (else 431)
    size_t bodyLimit = 4 * 1024;            // a request body's bytes (else 413)
    int connectionLimit = 32;               // holding a request or a stream (the next gets 503)
    int waitingLimit = 128;                 // yet to send a head: a new one closes the oldest
    DWORD headTimeMs = 2000;                // for a request head to arrive (else closed)
    DWORD requestTimeMs = 5000;             // for a whole request to arrive (else 400)
    DWORD writeTimeMs = 10000;              // for a client to take an answer
    DWORD stallMs = 30000;                  // a download whose client takes nothing is dropped
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
    // The addresses a browser may open: Url(), or for the wildcard address
    // 0.0.0.0 one for each of this PC's IPv4 addresses, loopback first.
    std::vector<std::string> Urls() const;
    uint16_t Port() const;

    // Sends what the event streams have not had yet (the station ended, its
    // last modules), then closes every connection and ends the thread:
    // within settings.stopLimitMs, whatever the clients do.
    void Stop();

    // Connections that hold a request or a stream now (for tests).
    int Connections() const;

  private:
    std::shared_ptr<ServerCore> core_;
};
