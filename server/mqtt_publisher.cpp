// The publisher's thread runs libmosquitto's network loop itself
// (mosquitto_loop, a select of at most one turn), rather than the library's
// own thread: that thread connects with a blocking connect, which a stop
// could not cut short, and it ends for good after a refused login or a name
// that is not found. Here every try is a connect that does not block, every
// failure is tried again 5 s after the try, and a stop ends the thread within
// the end's bound. The library's callbacks run on this thread too.
#include "mqtt_publisher.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "mqtt_messages.h"
#include "station_json.h"

namespace {

// A failure of the library, or of the network beneath it, in words. trying:
// before the broker's answer to a try, when a reset is a refusal (a port
// that no broker listens on, as Wine tells it).
std::string ReasonOf(int rc, int systemError, bool trying) {
    if (rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_CONN_LOST) {
        if (trying && (systemError == WSAECONNRESET || systemError == WSAECONNABORTED)) {
            return "the connection was refused";
        }
        switch (systemError) {
        case WSAECONNREFUSED:
            return "the connection was refused";
        case WSAETIMEDOUT:
            return "no answer";
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
            return "the network does not reach it";
        case WSAECONNRESET:
        case WSAECONNABORTED:
            return "the connection was lost";
        default:
            break;
        }
        if (rc == MOSQ_ERR_CONN_LOST || systemError == 0) {
            return "the connection was lost";
        }
        return "network error " + std::to_string(systemError);
    }
    if (rc == MOSQ_ERR_EAI) {
        return "its name is not known";
    }
    return mosquitto_strerror(rc);
}

std::string RefusalOf(int reasonCode) {
    switch (reasonCode) {
    case 4:
        return "the login was refused (user or password)";
    case 5:
        return "the login was refused (not authorised)";
    default:
        return std::string("the broker refused the connection (") +
               mosquitto_connack_string(reasonCode) + ")";
    }
}

} // namespace

class PublisherCore {
  public:
    PublisherCore(StationState& state, const MqttSettings& settings, const PublisherTimes& times)
        : state(state), settings(settings), times(times), ports(state.PortCount()) {
        condition.broker = (settings.host.find(':') != std::string::npos ? "[" + settings.host + "]"
                                                                         : settings.host) +
                           ":" + std::to_string(settings.port);
    }

    void Run();
    void Turn(ULONGLONG now);
    void Try(ULONGLONG now);
    void Failed(const std::string& reason, ULONGLONG now);
    void PublishDue(ULONGLONG now, bool all);
    bool Publish(const std::string& topic, const std::string& payload, bool retain, int* mid);
    void HandRecords();
    void Finish();
    void Tell();

    StationState& state;
    const MqttSettings settings;
    const PublisherTimes times;
    MqttCondition condition;
    mosquitto* client = nullptr;

    // The thread's own.
    bool tried = false;   // connect_async once, reconnect_async after
    bool pending = false; // a try awaits the broker's answer
    bool linked = false;  // connected and accepted
    bool fresh = false;   // just linked: every retained object goes out again
    ULONGLONG triedMs = 0;
    std::string reason = "not tried yet";
    RecordWindow window;
    bool stationTold = false;
    StationMark stationMark;
    ULONGLONG stationMs = 0;
    struct PortTold {
        bool told = false;
        PortMark mark;
    };
    std::vector<PortTold> ports;
    std::vector<ModuleRecord> notAccepted;
    int endMid = -1; // the message that says the station has ended
    bool endAccepted = false;

    std::thread thread;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false; // under lock
};

void PublisherCore::Failed(const std::string& why, ULONGLONG) {
    pending = false;
    linked = false;
    reason = why;
}

void PublisherCore::Try(ULONGLONG now) {
    triedMs = now;
    int rc;
    if (!tried) {
        tried = true;
        rc = mosquitto_connect_async(client, settings.host.c_str(), settings.port,
                                     settings.keepAliveSeconds);
    } else {
        rc = mosquitto_reconnect_async(client);
    }
    if (rc == MOSQ_ERR_SUCCESS) {
        pending = true;
    } else {
        Failed(ReasonOf(rc, errno, true), now);
    }
}

bool PublisherCore::Publish(const std::string& topic, const std::string& payload, bool retain,
                            int* mid) {
    return mosquitto_publish(client, mid, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), 1, retain) == MOSQ_ERR_SUCCESS;
}

void PublisherCore::HandRecords() {
    while (window.InFlight() < times.recordWindow) {
        const std::vector<ModuleRecord> records =
            state.RecordsAfter(window.HandedThrough(), times.recordWindow - window.InFlight());
        if (records.empty()) {
            return;
        }
        if (records.front().sequence > window.HandedThrough() + 1) {
            window.Gone(window.HandedThrough() + 1, records.front().sequence - 1);
        }
        for (const ModuleRecord& record : records) {
            int mid = 0;
            if (!Publish(ModuleTopic(settings.prefix), JsonText(RecordJson(record)), false, &mid)) {
                return;
            }
            window.Handed(mid, record.sequence);
        }
    }
}

void PublisherCore::PublishDue(ULONGLONG now, bool all) {
    // The ports first: the station's totals then never run ahead of them.
    for (size_t index = 0; index < ports.size(); ++index) {
        const PortSnapshot port = state.Port(index);
        const PortMark mark = MarkOf(port);
        if (!all && ports[index].told && ports[index].mark == mark) {
            continue;
        }
        ModuleRecord last;
        const bool haveLast = state.RecordOf(port.lastSequence, &last);
        if (Publish(PortTopic(settings.prefix, port.port),
                    JsonText(PortJson(port, haveLast ? &last : nullptr)), true, nullptr)) {
            ports[index] = {true, mark};
        }
    }
    HandRecords();
    const StationMark mark = MarkOf(state.Status(), state.Totals());
    if (all || !stationTold || !(stationMark == mark)) {
        if (all || now - stationMs >= times.stateGapMs) {
            if (Publish(StateTopic(settings.prefix), JsonText(StationHead(state)), true, nullptr)) {
                stationTold = true;
                stationMark = mark;
                stationMs = now;
            }
        }
    }
}

void PublisherCore::Tell() {
    const int64_t waiting = window.Waiting(state.Totals().sequence);
    condition.waiting = waiting;
    condition.reached = linked;
    const std::string problem = linked ? "" : BrokerProblemText(reason, waiting);
    if (problem != condition.problem.Get()) {
        condition.problem.Set(problem);
        state.SetBrokerProblem(problem);
    }
}

void PublisherCore::Turn(ULONGLONG now) {
    if (!linked && !pending && (!tried || now - triedMs >= times.retryMs)) {
        Try(now);
    }
    if (pending && now - triedMs >= times.answerMs) {
        Failed("no answer within " + std::to_string(times.answerMs / 1000) + " s", now);
    }
    if (linked || pending) {
        const bool trying = pending;
        errno = 0;
        const int rc = mosquitto_loop(client, static_cast<int>(times.turnMs), 1);
        const int systemError = errno;
        if (rc == MOSQ_ERR_SUCCESS) {
            mosquitto_loop_misc(client);
        } else {
            // More precise than what the disconnect's callback could tell.
            Failed(ReasonOf(rc, systemError, trying), now);
        }
    } else {
        std::unique_lock<std::mutex> hold(lock);
        wake.wait_for(hold, std::chrono::milliseconds(times.turnMs), [this] { return stopping; });
    }
    if (linked) {
        PublishDue(now, fresh);
        fresh = false;
    }
    Tell();
}

void PublisherCore::Run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock);
            if (stopping) {
                break;
            }
        }
        Turn(GetTickCount64());
    }
    Finish();
}

void PublisherCore::Finish() {
    const ULONGLONG endMs = GetTickCount64() + times.endLimitMs;
    bool endSent = false;
    while (linked || pending) {
        const ULONGLONG now = GetTickCount64();
        if (now >= endMs) {
            break;
        }
        if (linked) {
            PublishDue(now, false);
            if (!endSent && window.HandedThrough() == state.Totals().sequence) {
                nlohmann::json end = StationHead(state);
                end["state"] = "ended";
                endSent = Publish(StateTopic(settings.prefix), JsonText(end), true, &endMid);
            }
            if (endSent && endAccepted && window.InFlight() == 0) {
                break;
            }
        }
        errno = 0;
        const int rc = mosquitto_loop(client, 20, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            Failed(ReasonOf(rc, errno, pending), now);
        }
    }
    if (linked) {
        mosquitto_disconnect(client); // no will: the station said it has ended
        mosquitto_loop(client, 20, 1);
    }
    linked = false;
    reason = "the station has ended";
    Tell();
    for (const ModuleRecord& record : state.RecordsAfter(window.AcceptedThrough())) {
        if (!window.IsAccepted(record.sequence)) {
            notAccepted.push_back(record);
        }
    }
}

namespace {

PublisherCore* CoreOf(void* userData) {
    return static_cast<PublisherCore*>(userData);
}

void OnConnect(mosquitto*, void* userData, int reasonCode) {
    PublisherCore* core = CoreOf(userData);
    core->pending = false;
    if (reasonCode == 0) {
        core->linked = true;
        core->fresh = true;
    } else {
        core->Failed(RefusalOf(reasonCode), GetTickCount64());
    }
}

void OnDisconnect(mosquitto*, void* userData, int rc) {
    PublisherCore* core = CoreOf(userData);
    if (core->linked || core->pending) {
        core->Failed(rc == 0 ? "the connection was closed" : "the connection was lost",
                     GetTickCount64());
    }
}

void OnPublish(mosquitto*, void* userData, int mid) {
    PublisherCore* core = CoreOf(userData);
    core->window.Accepted(mid);
    if (mid == core->endMid) {
        core->endAccepted = true;
    }
}

} // namespace

std::string NotAcceptedText(const std::vector<ModuleRecord>& records, int64_t gone,
                            const MqttSettings& settings) {
    std::string text;
    if (gone > 0) {
        text = "korvan-cli: " + std::to_string(gone) +
               " older records never reached the broker and are no longer held (see the log)\n";
    }
    if (records.empty()) {
        return text;
    }
    text += "korvan-cli: " + std::to_string(records.size()) +
            (records.size() == 1 ? " record" : " records") + " not accepted by the broker " +
            settings.host + ":" + std::to_string(settings.port) + " (" +
            ModuleTopic(settings.prefix) + "):\n";
    for (const ModuleRecord& record : records) {
        text += JsonText(RecordJson(record)) + "\n";
    }
    return text;
}

MqttPublisher::MqttPublisher(StationState& state, const MqttSettings& settings,
                             const PublisherTimes& times)
    : core_(std::make_shared<PublisherCore>(state, settings, times)) {}

MqttPublisher::~MqttPublisher() {
    Stop();
    if (core_->client != nullptr) {
        mosquitto_destroy(core_->client);
        core_->client = nullptr;
    }
}

std::string MqttPublisher::Start() {
    mosquitto_lib_init();
    PublisherCore* core = core_.get();
    core->client = mosquitto_new(nullptr, true, core);
    if (core->client == nullptr) {
        return "the MQTT client cannot be made";
    }
    const MqttSettings& settings = core->settings;
    int rc =
        mosquitto_will_set(core->client, StateTopic(settings.prefix).c_str(),
                           static_cast<int>(strlen(kOfflinePayload)), kOfflinePayload, 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings.user.empty()) {
        rc = mosquitto_username_pw_set(core->client, settings.user.c_str(),
                                       settings.password.c_str());
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        return std::string("the MQTT client refuses the settings: ") + mosquitto_strerror(rc);
    }
    mosquitto_connect_callback_set(core->client, OnConnect);
    mosquitto_disconnect_callback_set(core->client, OnDisconnect);
    mosquitto_publish_callback_set(core->client, OnPublish);
    core->thread = std::thread([core] { core->Run(); });
    return "";
}

void MqttPublisher::Stop() {
    if (!core_->thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(core_->lock);
        core_->stopping = true;
    }
    core_->wake.notify_all();
    core_->thread.join();
}

std::vector<ModuleRecord> MqttPublisher::NotAccepted() const {
    return core_->notAccepted;
}

int64_t MqttPublisher::GoneCount() const {
    return core_->window.GoneCount();
}

const MqttCondition& MqttPublisher::Condition() const {
    return core_->condition;
}
