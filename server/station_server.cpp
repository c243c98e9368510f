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
#include "this_pc_addresses.h"
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
// A download's writes: a client that takes less than this in the stall
// time is taken for gone.
const size_t kWriteSlice = 16 * 1024;
// The system's buffer for an event stream's or a download's bytes, so that
// what a client does not read soon waits in the server, where it is counted.
const int kStreamSendBuffer = 64 * 1024;

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
        guard.cookie = NewCookieValue();
        guard.pcNames = ThisPcNames();
        guard.pcNames.insert(guard.pcNames.end(), settings.hostNames.begin(),
                             settings.hostNames.end());
    }

    std::string Listen();
    void Accept();
    // Looks at the station's state every watchMs: WatchOnce, whatever fails.
    void Watch();
    void WatchOnce();
    void End();
    void SessionGone();
    // One plain line of a failure inside the server.
    void Note(const std::string& line);
    // Closes the oldest connection in role (that has not shown the secret,
    // for kHolding); false when there is none.
    bool CloseOldest(int role);

    StationState& state;
    const ServerSettings settings;
    GuardSettings guard;
    std::atomic<int> connections{0}; // holding a request or a stream
    int waiting = 0;                 // yet to send a request head
    int rejecting = 0;
    int live = 0; // sessions not yet destroyed
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

// What a connection does, for the bounds: it waits for a request head, it
// holds a request (or a stream, or a download), it is turned away, or it
// is closed.
enum SessionRole : int { kWaitingRole, kHoldingRole, kRefusedRole, kGoneRole };

// One client's connection: requests answered one after the other, an event
// stream once it asks for one, or the log's download.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(const std::shared_ptr<ServerCore>& core, tcp::socket socket)
        : keep_(core), core_(*core), socket_(std::move(socket)), timer_(core->io) {
        ++core_.live;
        ++core_.waiting;
    }
    ~Session() {
        SetRole(kGoneRole);
        --core_.live;
        core_.SessionGone();
    }

    void Begin() {
        ReadRequest();
    }
    int Role() const {
        return role_;
    }
    bool ShowedToken() const {
        return showedToken_;
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
    // Runs a handler's work: a failure inside it closes this connection alone.
    template <class Work> void Guarded(const Work& work);

  private:
    using Response = http::response<http::string_body>;
    void SetRole(int role);
    // Bounds the read or write that follows: when ms pass, it is cancelled
    // and timedOut_ set. Disarm: it ended in time.
    void Arm(DWORD ms);
    void Disarm();
    void ReadRequest();
    void OnHead(const error_code& error);
    void OnRequest(const error_code& error);
    // A read that failed: closed, or the failure's answer.
    void ReadFailed(const error_code& error, const std::string& late);
    // Takes a place among the connections that hold a request; false when
    // it is turned away.
    bool Admit();
    void Serve(const http::request<http::string_body>& request);
    void Send(const Reply& reply, bool keepOpen);
    void Sent(const error_code& error, bool keepOpen);
    void Fail(int status, const std::string& error);
    void Linger();
    void BeginStream(const Reply& reply);
    void WatchClose();
    void WriteNext();
    void BeginDownload(const Reply& reply);
    void NextPiece();
    void WritePiece();

    std::shared_ptr<ServerCore> keep_; // the server outlives its sessions
    ServerCore& core_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    int role_ = kWaitingRole;
    bool showedToken_ = false;
    bool timedOut_ = false;
    unsigned armed_ = 0; // the bound in force; an earlier one that fires late does nothing
    bool closed_ = false;
    bool answering_ = false;
    bool lingering_ = false;
    ULONGLONG requestStartMs_ = 0;
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

    // The log's download: one piece of the file at a time.
    std::shared_ptr<LogFileReader> file_;
    uint64_t fileAt_ = 0;   // the next byte to read
    uint64_t fileLeft_ = 0; // bytes still to read
    std::vector<char> piece_;
    size_t pieceAt_ = 0, pieceSize_ = 0;
    std::string head_;
};

template <class Work> void Session::Guarded(const Work& work) {
    try {
        work();
    } catch (const std::exception& failure) {
        core_.Note(std::string("a client's connection failed inside the server (") +
                   failure.what() + ") and was closed");
        Close();
    } catch (...) {
        core_.Note("a client's connection failed inside the server and was closed");
        Close();
    }
}

void Session::SetRole(int role) {
    if (role == role_) {
        return;
    }
    for (int step : {-1, 1}) {
        switch (step < 0 ? role_ : role) {
        case kWaitingRole:
            core_.waiting += step;
            break;
        case kHoldingRole:
            core_.connections += step;
            break;
        case kRefusedRole:
            core_.rejecting += step;
            break;
        }
    }
    role_ = role;
}

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
    SetRole(kGoneRole);
    file_.reset();
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
    SetRole(kWaitingRole);
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(core_.settings.headLimit));
    parser_->body_limit(core_.settings.bodyLimit);
    requestStartMs_ = GetTickCount64();
    Arm(core_.settings.headTimeMs);
    http::async_read_header(socket_, buffer_, *parser_,
                            [self = shared_from_this()](const error_code& error, size_t) {
                                self->Guarded([&] { self->OnHead(error); });
                            });
}

void Session::OnHead(const error_code& error) {
    Disarm();
    if (closed_) {
        return;
    }
    if (error) {
        ReadFailed(error, "the request head was not complete within " +
                              std::to_string(core_.settings.headTimeMs) + " ms");
        return;
    }
    if (!Admit()) {
        return;
    }
    if (parser_->is_done()) {
        Serve(parser_->get());
        return;
    }
    const ULONGLONG spent = GetTickCount64() - requestStartMs_;
    const DWORD whole = core_.settings.requestTimeMs;
    Arm(spent < whole ? static_cast<DWORD>(whole - spent) : 1);
    http::async_read(socket_, buffer_, *parser_,
                     [self = shared_from_this()](const error_code& error, size_t) {
                         self->Guarded([&] { self->OnRequest(error); });
                     });
}

void Session::OnRequest(const error_code& error) {
    Disarm();
    if (closed_) {
        return;
    }
    if (error) {
        ReadFailed(error, "the request was not complete within " +
                              std::to_string(core_.settings.requestTimeMs / 1000) + " s");
        return;
    }
    Serve(parser_->get());
}

void Session::ReadFailed(const error_code& error, const std::string& late) {
    if (timedOut_) {
        if (parser_->got_some()) {
            Fail(400, late);
        } else {
            Close(); // silent, or idle between requests
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

bool Session::Admit() {
    const auto& request = parser_->get();
    RequestFacts facts;
    facts.authorization = std::string(request[http::field::authorization]);
    facts.cookie = std::string(request[http::field::cookie]);
    showedToken_ = !core_.settings.token.empty() && ShowsToken(facts, core_.guard);
    if (core_.connections.load() >= core_.settings.connectionLimit &&
        !(showedToken_ && core_.CloseOldest(kHoldingRole))) {
        if (core_.rejecting >= kRejectingLimit) {
            Close();
        } else {
            SetRole(kRefusedRole);
            Fail(503, "the station serves " + std::to_string(core_.settings.connectionLimit) +
                          " connections at once");
        }
        return false;
    }
    SetRole(kHoldingRole);
    return true;
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
    const auto range = request.find(http::field::range);
    facts.hasRange = range != request.end();
    if (facts.hasRange) {
        facts.range = std::string(range->value());
    }
    const auto lastId = request.find("Last-Event-ID");
    const std::string lastEventId = lastId != request.end() ? std::string(lastId->value()) : "";
    error_code ignored;
    const std::string local = socket_.local_endpoint(ignored).address().to_string();
    GuardSettings guard = core_.guard;
    guard.port = core_.port;
    Reply reply;
    try {
        const Verdict verdict = Judge(facts, local, guard);
        const ReplyContext context{core_.state,         core_.guard.cookie, core_.settings.stop,
                                   core_.knownSequence, &core_.tally,       core_.settings.mqtt};
        reply = ReplyTo(facts, verdict, request.body(),
                        lastId != request.end() ? &lastEventId : nullptr, context);
    } catch (const std::exception& failure) {
        core_.Note(std::string("a request failed inside the server (") + failure.what() +
                   "): answered 500");
        reply = FailureReply(500, "the server failed on this request");
    }
    if (reply.stream) {
        BeginStream(reply);
    } else if (reply.file) {
        BeginDownload(reply);
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
                          self->Guarded([&] { self->Sent(error, held->keep_alive()); });
                      });
}

void Session::Sent(const error_code& error, bool keepOpen) {
    answering_ = false;
    Disarm();
    if (closed_) {
        return;
    }
    if (error || timedOut_) {
        Close();
    } else if (!keepOpen) {
        Linger();
    } else {
        ReadRequest();
    }
}

void Session::Fail(int status, const std::string& error) {
    Send(FailureReply(status, error), false);
}

void Session::Linger() {
    // The answer is out: the connection holds no request any more.
    SetRole(kWaitingRole);
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
                                self->Guarded([&] {
                                    if (error || self->timedOut_) {
                                        self->Close();
                                    } else {
                                        self->Linger();
                                    }
                                });
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
                                self->Guarded([&] {
                                    if (error) {
                                        self->Close();
                                    } else if (!self->closed_) {
                                        self->WatchClose();
                                    }
                                });
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
                          self->Guarded([&] {
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
                      });
}

void Session::BeginDownload(const Reply& reply) {
    error_code ignored;
    socket_.set_option(asio::socket_base::send_buffer_size(kStreamSendBuffer), ignored);
    file_ = reply.file;
    fileAt_ = reply.range.first;
    fileLeft_ = reply.range.count;
    piece_.resize(kLogPiece);
    // The head with the length of what follows; the connection ends with it.
    head_ = "HTTP/1.1 " + std::to_string(reply.status) + " " +
            std::string(http::obsolete_reason(static_cast<http::status>(reply.status))) + "\r\n";
    for (const auto& header : reply.headers) {
        head_ += header.first + ": " + header.second + "\r\n";
    }
    head_ += "Content-Length: " + std::to_string(fileLeft_) + "\r\nConnection: close\r\n\r\n";
    answering_ = true;
    Arm(core_.settings.stallMs);
    asio::async_write(socket_, asio::buffer(head_),
                      [self = shared_from_this()](const error_code& error, size_t) {
                          self->Guarded([&] {
                              self->Disarm();
                              if (error || self->timedOut_ || self->closed_) {
                                  self->Close();
                              } else {
                                  self->NextPiece();
                              }
                          });
                      });
}

void Session::NextPiece() {
    if (fileLeft_ == 0 || core_.ending) {
        answering_ = false;
        file_.reset();
        piece_ = std::vector<char>();
        Linger();
        return;
    }
    const size_t want = fileLeft_ < kLogPiece ? static_cast<size_t>(fileLeft_) : kLogPiece;
    size_t got = 0;
    if (!file_->Read(fileAt_, piece_.data(), want, &got) || got == 0) {
        Close(); // the file failed or shrank: the client sees the answer cut short
        return;
    }
    fileAt_ += got;
    fileLeft_ -= got;
    pieceAt_ = 0;
    pieceSize_ = got;
    WritePiece();
}

void Session::WritePiece() {
    const size_t left = pieceSize_ - pieceAt_;
    Arm(core_.settings.stallMs);
    socket_.async_write_some(
        asio::buffer(piece_.data() + pieceAt_, left < kWriteSlice ? left : kWriteSlice),
        [self = shared_from_this()](const error_code& error, size_t written) {
            self->Guarded([&] {
                self->Disarm();
                if (error || self->timedOut_ || self->closed_) {
                    self->Close(); // gone, or it took nothing for the stall time
                    return;
                }
                self->pieceAt_ += written;
                if (self->pieceAt_ < self->pieceSize_) {
                    self->WritePiece();
                } else {
                    self->NextPiece();
                }
            });
        });
}

void Session::EndSoon() {
    if (streaming_) {
        endWhenDrained_ = true;
        WriteNext();
    } else if (!answering_ || file_) {
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
        try {
            if (!error) {
                // A connection is judged by what it sends: all are taken, the
                // oldest that has not yet sent a head makes room.
                if (core->waiting >= core->settings.waitingLimit) {
                    core->CloseOldest(kWaitingRole);
                }
                auto session = std::make_shared<Session>(core, std::move(socket));
                core->sessions.push_back(session);
                session->Begin();
            }
        } catch (const std::exception& failure) {
            core->Note(std::string("a connection could not be taken (") + failure.what() + ")");
        }
        core->Accept();
    });
}

bool ServerCore::CloseOldest(int role) {
    for (const auto& weak : sessions) {
        const std::shared_ptr<Session> session = weak.lock();
        if (session && session->Role() == role &&
            (role != kHoldingRole || !session->ShowedToken())) {
            session->Close();
            return true;
        }
    }
    return false;
}

void ServerCore::Note(const std::string& line) {
    if (settings.note) {
        try {
            settings.note(line);
        } catch (...) {
            // The line is lost; the server goes on.
        }
    }
}

void ServerCore::Watch() {
    try {
        WatchOnce();
    } catch (const std::exception& failure) {
        Note(std::string("the server's watch of the station failed (") + failure.what() +
             "); it goes on");
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

void ServerCore::WatchOnce() {
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
    if (ending && live == 0) {
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
        // A failure that a handler let through ends that handler's work
        // alone: its connection is closed as its last owner goes.
        for (;;) {
            try {
                core->io.run();
                break;
            } catch (const std::exception& failure) {
                core->Note(std::string("a failure inside the server (") + failure.what() +
                           "); it goes on");
            } catch (...) {
                core->Note("a failure inside the server; it goes on");
            }
        }
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

std::vector<std::string> StationServer::Urls() const {
    if (core_->settings.address.address != "0.0.0.0") {
        return {Url()};
    }
    std::vector<std::string> urls;
    for (const std::string& address : ThisPcIpv4Addresses()) {
        urls.push_back("http://" + address + ":" + std::to_string(core_->port) + "/");
    }
    return urls;
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
