// The server on Boost.Asio and Boost.Beast: one thread runs every
// connection and the watch of the station's state. Beast stays in this
// file alone (it is heavy on the compiler).
// Asio's Winsock 2 comes before windows.h, which would bring the old Winsock.
#include <boost/asio.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "station_server.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "http_guard.h"
#include "station_answers.h"
#include "station_events.h"
#include "station_json.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Text = std::shared_ptr<const std::string>;

namespace {

// A stream that is catching up takes more records only while less than this
// waits for its client, so a client far behind holds little of the server.
const size_t kCatchUpRoom = 64 * 1024;
// A failure's answer: the rest of what the client sends is read and thrown
// away for this long, so that the client gets the answer rather than a reset.
const DWORD kLingerMs = 1000;
// Connections being turned away (503) at once; more are closed at once.
const int kRejectingLimit = 256;
// The system's buffer for an event stream's bytes, so that what a client
// does not read soon waits in the server's queue, where it is counted.
const int kStreamSendBuffer = 64 * 1024;

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

Text Shared(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

} // namespace

class Session;

class ServerCore : public std::enable_shared_from_this<ServerCore> {
  public:
    ServerCore(StationState& state, const ServerSettings& settings)
        : state(state), settings(settings), events(state, settings.portEventGapMs),
          tally(state.PortCount()) {
        guard.token = settings.token;
        guard.pcNames = ThisPcNames();
    }

    std::string Listen();
    void Accept();
    void Watch();
    void End();
    void SessionGone();

    StationState& state;
    const ServerSettings settings;
    GuardSettings guard;
    std::atomic<int> connections{0};
    int rejecting = 0;
    bool ending = false;
    uint16_t port = 0;
    // The last record that the event streams were offered.
    int64_t knownSequence = 0;
    std::list<std::weak_ptr<Session>> sessions;

    EventWatch events;
    MetricsTally tally;
    std::string mqttEvent; // the broker's condition as the streams last had it

    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer watchTimer{io};
    asio::steady_timer endTimer{io};
    std::thread thread;
    std::mutex runLock;
    std::condition_variable runEnded;
    bool ran = false;
};

// One client's connection: requests answered one after the other, or an
// event stream once it asks for one.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(const std::shared_ptr<ServerCore>& core, tcp::socket socket, bool counted)
        : keep_(core), core_(*core), socket_(std::move(socket)), timer_(core->io),
          counted_(counted) {
        if (counted_) {
            ++core_.connections;
        } else {
            ++core_.rejecting;
        }
    }
    ~Session() {
        if (counted_) {
            --core_.connections;
        } else {
            --core_.rejecting;
        }
        core_.SessionGone();
    }

    void Begin() {
        ReadRequest();
    }
    void Refuse(int status, const std::string& error) {
        Fail(status, error);
    }
    bool Streaming() const {
        return streaming_ && !closed_;
    }
    int64_t& SentSequence() {
        return sentSequence_;
    }
    void Push(const Text& text);
    // Takes the next records for a stream that is behind.
    void Pull();
    ULONGLONG LastPushMs() const {
        return lastPushMs_;
    }
    // The server ends: an answer under way or a stream's last events go out
    // first.
    void EndSoon();
    void Close();

  private:
    using Response = http::response<http::string_body>;
    // Bounds the read or write that follows: when ms pass, it is cancelled
    // and timedOut_ set. Disarm: it ended in time.
    void Arm(DWORD ms);
    void Disarm();
    void ReadRequest();
    void OnRequest(const error_code& error);
    void Serve(const http::request<http::string_body>& request);
    void Send(const Reply& reply, bool keepOpen);
    void Fail(int status, const std::string& error);
    void Linger();
    void BeginStream(const Reply& reply);
    void WatchClose();
    void WriteNext();

    std::shared_ptr<ServerCore> keep_; // the server outlives its sessions
    ServerCore& core_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    bool counted_;
    bool timedOut_ = false;
    unsigned armed_ = 0; // the bound in force; an earlier one that fires late does nothing
    bool closed_ = false;
    bool answering_ = false;
    bool lingering_ = false;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;

    bool streaming_ = false;
    bool endWhenDrained_ = false;
    int64_t sentSequence_ = 0;
    std::deque<Text> queue_;
    std::vector<Text> inFlight_;
    size_t waitingBytes_ = 0; // queued and in flight
    bool writing_ = false;
    ULONGLONG lastPushMs_ = 0;
    char discard_[512];
};

void Session::Arm(DWORD ms) {
    timedOut_ = false;
    const unsigned armed = ++armed_;
    timer_.expires_after(std::chrono::milliseconds(ms));
    timer_.async_wait([self = shared_from_this(), armed](const error_code& error) {
        if (!error && !self->closed_ && armed == self->armed_) {
            self->timedOut_ = true;
            error_code ignored;
            self->socket_.cancel(ignored);
        }
    });
}

void Session::Disarm() {
    ++armed_;
    timer_.cancel();
}

void Session::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    error_code ignored;
    Disarm();
    socket_.cancel(ignored); // a write that waits for its client ends only so under Wine
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

void Session::ReadRequest() {
    if (core_.ending) {
        Close();
        return;
    }
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(core_.settings.headLimit));
    parser_->body_limit(core_.settings.bodyLimit);
    Arm(core_.settings.requestTimeMs);
    http::async_read(
        socket_, buffer_, *parser_,
        [self = shared_from_this()](const error_code& error, size_t) { self->OnRequest(error); });
}

void Session::OnRequest(const error_code& error) {
    Disarm();
    if (closed_) {
        return;
    }
    if (!error) {
        Serve(parser_->get());
    } else if (timedOut_) {
        if (parser_->got_some()) {
            Fail(400, "the request was not complete within " +
                          std::to_string(core_.settings.requestTimeMs / 1000) + " s");
        } else {
            Close(); // an idle connection between requests
        }
    } else if (error == http::error::end_of_stream || error == asio::error::eof ||
               error == asio::error::connection_reset || error == asio::error::operation_aborted) {
        Close();
    } else if (error == http::error::header_limit) {
        Fail(431, "the request head is longer than " + std::to_string(core_.settings.headLimit) +
                      " bytes");
    } else if (error == http::error::body_limit) {
        Fail(413, "the request body is longer than " + std::to_string(core_.settings.bodyLimit) +
                      " bytes");
    } else {
        Fail(400, "not an HTTP/1.1 request (" + error.message() + ")");
    }
}

void Session::Serve(const http::request<http::string_body>& request) {
    RequestFacts facts;
    facts.method = std::string(request.method_string());
    facts.target = std::string(request.target());
    const auto host = request.find(http::field::host);
    facts.hasHost = host != request.end();
    if (facts.hasHost) {
        facts.host = std::string(host->value());
    }
    facts.authorization = std::string(request[http::field::authorization]);
    facts.cookie = std::string(request[http::field::cookie]);
    facts.contentType = std::string(request[http::field::content_type]);
    const auto lastId = request.find("Last-Event-ID");
    const std::string lastEventId = lastId != request.end() ? std::string(lastId->value()) : "";
    error_code ignored;
    const std::string local = socket_.local_endpoint(ignored).address().to_string();
    GuardSettings guard = core_.guard;
    guard.port = core_.port;
    const Verdict verdict = Judge(facts, local, guard);
    const ReplyContext context{core_.state,         core_.settings.token, core_.settings.stop,
                               core_.knownSequence, &core_.tally,         core_.settings.mqtt};
    const Reply reply = ReplyTo(facts, verdict, request.body(),
                                lastId != request.end() ? &lastEventId : nullptr, context);
    if (reply.stream) {
        BeginStream(reply);
    } else {
        Send(reply, reply.status < 400 && request.keep_alive());
    }
}

void Session::Send(const Reply& reply, bool keepOpen) {
    Response response;
    response.version(11);
    response.result(static_cast<http::status>(reply.status));
    for (const auto& header : reply.headers) {
        response.set(header.first, header.second);
    }
    response.body() = reply.body;
    response.keep_alive(keepOpen && !core_.ending);
    response.prepare_payload();
    auto held = std::make_shared<Response>(std::move(response));
    answering_ = true;
    Arm(core_.settings.writeTimeMs);
    http::async_write(socket_, *held,
                      [self = shared_from_this(), held](const error_code& error, size_t) {
                          self->answering_ = false;
                          self->Disarm();
                          if (self->closed_) {
                              return;
                          }
                          if (error || self->timedOut_) {
                              self->Close();
                          } else if (!held->keep_alive()) {
                              self->Linger();
                          } else {
                              self->ReadRequest();
                          }
                      });
}

void Session::Fail(int status, const std::string& error) {
    Send(FailureReply(status, error), false);
}

void Session::Linger() {
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    if (core_.ending) {
        Close();
        return;
    }
    if (!lingering_) {
        lingering_ = true;
        Arm(kLingerMs);
    }
    socket_.async_read_some(asio::buffer(discard_),
                            [self = shared_from_this()](const error_code& error, size_t) {
                                if (error || self->timedOut_) {
                                    self->Close();
                                } else {
                                    self->Linger();
                                }
                            });
}

void Session::BeginStream(const Reply& reply) {
    streaming_ = true;
    error_code ignored;
    socket_.set_option(asio::socket_base::send_buffer_size(kStreamSendBuffer), ignored);
    sentSequence_ = reply.streamAfter;
    // The head without a length: the stream's body lasts as long as the connection.
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (const auto& header : reply.headers) {
        head += header.first + ": " + header.second + "\r\n";
    }
    Push(Shared(head + "\r\nretry: 1000\n\n"));
    for (std::string& event : core_.events.Opening()) {
        Push(Shared(std::move(event)));
    }
    if (core_.settings.mqtt != nullptr) {
        Push(Shared(EventText("mqtt", MqttJson(core_.settings.mqtt))));
    }
    Pull();
    WatchClose();
}

void Session::WatchClose() {
    // A stream's client sends nothing more; what it sends is thrown away,
    // and its end ends the stream.
    socket_.async_read_some(asio::buffer(discard_),
                            [self = shared_from_this()](const error_code& error, size_t) {
                                if (error) {
                                    self->Close();
                                } else if (!self->closed_) {
                                    self->WatchClose();
                                }
                            });
}

void Session::Push(const Text& text) {
    if (closed_) {
        return;
    }
    queue_.push_back(text);
    waitingBytes_ += text->size();
    lastPushMs_ = GetTickCount64();
    if (waitingBytes_ > core_.settings.streamBacklogLimit) {
        Close(); // its client does not read: dropped
        return;
    }
    WriteNext();
}

void Session::Pull() {
    while (Streaming() && sentSequence_ < core_.knownSequence && waitingBytes_ < kCatchUpRoom) {
        const std::vector<ModuleRecord> records = core_.state.RecordsAfter(sentSequence_, 32);
        if (records.empty()) {
            break;
        }
        for (const ModuleRecord& record : records) {
            if (record.sequence > core_.knownSequence || !Streaming()) {
                break;
            }
            sentSequence_ = record.sequence;
            Push(Shared(ModuleEvent(record)));
        }
    }
}

void Session::WriteNext() {
    if (writing_ || closed_) {
        return;
    }
    if (queue_.empty()) {
        if (endWhenDrained_) {
            Close();
        }
        return;
    }
    std::vector<asio::const_buffer> buffers;
    while (!queue_.empty()) {
        inFlight_.push_back(queue_.front());
        queue_.pop_front();
        buffers.push_back(asio::buffer(*inFlight_.back()));
    }
    writing_ = true;
    asio::async_write(socket_, buffers,
                      [self = shared_from_this()](const error_code& error, size_t written) {
                          self->writing_ = false;
                          self->inFlight_.clear();
                          self->waitingBytes_ -= written;
                          if (error) {
                              self->Close();
                              return;
                          }
                          self->Pull();
                          self->WriteNext();
                      });
}

void Session::EndSoon() {
    if (streaming_) {
        endWhenDrained_ = true;
        WriteNext();
    } else if (!answering_) {
        Close();
    }
    // An answer under way closes the connection once written.
}

std::string ServerCore::Listen() {
    const std::string where =
        UrlHost(settings.address.address) + ":" + std::to_string(settings.address.port);
    const std::string access = ServeAccessProblem(settings.address, !settings.token.empty());
    if (!access.empty()) {
        return access;
    }
    error_code error;
    const asio::ip::address address = asio::ip::make_address(settings.address.address, error);
    if (error) {
        return "cannot serve on " + where + ": not an IP address";
    }
    const tcp::endpoint endpoint(address, settings.address.port);
    acceptor.open(endpoint.protocol(), error);
    if (!error) {
        // No other program may take the port while we listen, nor we one
        // that another listens on.
        BOOL exclusive = TRUE;
        setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
        acceptor.bind(endpoint, error);
    }
    if (!error) {
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error == asio::error::address_in_use || error == asio::error::access_denied) {
        return "cannot serve on " + where + ": the port is in use";
    }
    if (error.value() == WSAEADDRNOTAVAIL) {
        return "cannot serve on " + where + ": " + settings.address.address +
               " is not an address of this PC";
    }
    if (error) {
        return "cannot serve on " + where + ": " + error.message();
    }
    port = acceptor.local_endpoint(error).port();
    return "";
}

void ServerCore::Accept() {
    acceptor.async_accept([core = shared_from_this()](const error_code& error, tcp::socket socket) {
        if (core->ending || error == asio::error::operation_aborted) {
            return;
        }
        if (!error) {
            if (core->connections.load() < core->settings.connectionLimit) {
                auto session = std::make_shared<Session>(core, std::move(socket), true);
                core->sessions.push_back(session);
                session->Begin();
            } else if (core->rejecting < kRejectingLimit) {
                auto session = std::make_shared<Session>(core, std::move(socket), false);
                core->sessions.push_back(session);
                session->Refuse(503, "the station serves " +
                                         std::to_string(core->settings.connectionLimit) +
                                         " connections at once");
            }
        }
        core->Accept();
    });
}

void ServerCore::Watch() {
    tally.Update(state);
    std::vector<std::shared_ptr<Session>> streams;
    for (auto at = sessions.begin(); at != sessions.end();) {
        std::shared_ptr<Session> session = at->lock();
        if (!session) {
            at = sessions.erase(at);
            continue;
        }
        if (session->Streaming()) {
            streams.push_back(session);
        }
        ++at;
    }
    // The new records, to the streams that have had all before them; the
    // others take them as they catch up.
    const StationTotals totals = state.Totals();
    if (totals.sequence > knownSequence) {
        const std::vector<ModuleRecord> records =
            streams.empty() ? std::vector<ModuleRecord>() : state.RecordsAfter(knownSequence);
        for (const ModuleRecord& record : records) {
            Text text;
            for (const auto& stream : streams) {
                if (stream->SentSequence() == record.sequence - 1) {
                    if (!text) {
                        text = Shared(ModuleEvent(record));
                    }
                    stream->SentSequence() = record.sequence;
                    stream->Push(text);
                }
            }
        }
        knownSequence = records.empty() ? totals.sequence : records.back().sequence;
    }
    // The station's and the ports' changes, to every stream.
    const ULONGLONG now = GetTickCount64();
    for (std::string& event : events.Changes(now, ending)) {
        const Text text = Shared(std::move(event));
        for (const auto& stream : streams) {
            stream->Push(text);
        }
    }
    // The broker's condition, when it changes.
    if (settings.mqtt != nullptr) {
        std::string event = EventText("mqtt", MqttJson(settings.mqtt));
        if (event != mqttEvent) {
            mqttEvent = event;
            const Text text = Shared(std::move(event));
            for (const auto& stream : streams) {
                stream->Push(text);
            }
        }
    }
    for (const auto& stream : streams) {
        stream->Pull();
        if (now - stream->LastPushMs() >= settings.keepAliveMs) {
            stream->Push(Shared(": keep-alive\n\n"));
        }
    }
    if (ending) {
        return;
    }
    watchTimer.expires_after(std::chrono::milliseconds(settings.watchMs));
    watchTimer.async_wait([core = shared_from_this()](const error_code& error) {
        if (!error) {
            core->Watch();
        }
    });
}

void ServerCore::End() {
    if (ending) {
        return;
    }
    ending = true;
    error_code ignored;
    acceptor.close(ignored);
    watchTimer.cancel();
    Watch(); // the last events
    endTimer.expires_after(std::chrono::milliseconds(settings.stopLimitMs * 4 / 5));
    endTimer.async_wait([core = shared_from_this()](const error_code& error) {
        if (error) {
            return;
        }
        for (const auto& weak : core->sessions) {
            if (auto session = weak.lock()) {
                session->Close();
            }
        }
    });
    for (const auto& weak : sessions) {
        if (auto session = weak.lock()) {
            session->EndSoon();
        }
    }
    SessionGone();
}

void ServerCore::SessionGone() {
    if (ending && connections.load() == 0 && rejecting == 0) {
        endTimer.cancel();
    }
}

StationServer::StationServer(StationState& state, const ServerSettings& settings)
    : core_(std::make_shared<ServerCore>(state, settings)) {}

StationServer::~StationServer() {
    Stop();
}

std::string StationServer::Start() {
    const std::string problem = core_->Listen();
    if (!problem.empty()) {
        return problem;
    }
    core_->Accept();
    core_->Watch();
    ServerCore* core = core_.get();
    core_->thread = std::thread([core] {
        core->io.run();
        std::lock_guard<std::mutex> hold(core->runLock);
        core->ran = true;
        core->runEnded.notify_all();
    });
    return "";
}

std::string StationServer::Url() const {
    return "http://" + UrlHost(core_->settings.address.address) + ":" +
           std::to_string(core_->port) + "/";
}

uint16_t StationServer::Port() const {
    return core_->port;
}

int StationServer::Connections() const {
    return core_->connections.load();
}

void StationServer::Stop() {
    if (!core_->thread.joinable()) {
        return;
    }
    asio::post(core_->io, [core = core_] { core->End(); });
    {
        std::unique_lock<std::mutex> hold(core_->runLock);
        core_->runEnded.wait_for(hold, std::chrono::milliseconds(core_->settings.stopLimitMs),
                                 [this] { return core_->ran; });
    }
    core_->io.stop(); // whatever is left; the thread's handlers are short
    core_->thread.join();
    if (!core_->ran) {
        // Cut short: the connections are closed here, now that the thread
        // has ended, and what that completes is run for a moment.
        core_->ending = true;
        error_code ignored;
        core_->acceptor.close(ignored);
        core_->watchTimer.cancel();
        core_->endTimer.cancel();
        for (const auto& weak : core_->sessions) {
            if (auto session = weak.lock()) {
                session->Close();
            }
        }
        core_->io.restart();
        core_->io.run_for(std::chrono::milliseconds(100));
    }
}
