#include "mqtt/mqtt_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "mqtt/connect_attempt.h"
#include "mqtt/log.h"
#include "mqtt/payloads.h"

namespace {

constexpr int KEEPALIVE_SECONDS = 30;
constexpr double STOP_WAIT_SECONDS = 2.0;
constexpr int QOS = 1;

MqttLink *LinkOf(void *userdata) {
    return static_cast<MqttLink *>(userdata);
}

std::string WithoutFinalStop(std::string text) {
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

// Why libmosquitto gave up on a connection or an attempt.
std::string ErrorText(int code) {
    return WithoutFinalStop(code == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(code));
}

// libmosquitto's own errors and warnings carry the detail that its result
// codes lack, such as why a TLS handshake failed.
void OnLibraryLog(mosquitto *, void *, int level, const char *text) {
    if ((level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) != 0) {
        LogEvent("libmosquitto: %s", text);
    } else {
        LogDetail("libmosquitto: %s", text);
    }
}

void ScheduleAttempt(MqttLink *link, const std::string &what, double now) {
    double jitter = static_cast<double>(rand_r(&link->jitterSeed)) / (static_cast<double>(RAND_MAX) + 1.0);
    double pause = NextBackoff(&link->backoff, jitter);
    link->nextAttempt = now + pause;
    LogEvent("%s; next attempt in %.1f s", what.c_str(), pause);
}

// The connection or the attempt is over: says why, once, and when the next
// attempt is.
void ConnectionOver(MqttLink *link, int code, double now) {
    if (!link->socketOpen) {
        return;
    }
    bool wasConnected = link->connected;
    link->socketOpen = false;
    link->connected = false;
    if (link->takenOver) {
        // Two bridges with one client id would take the session from each
        // other forever; the program ends instead (status 3).
        LogEvent(
            "another bridge uses the host-id %s: it connected to %s as rxb540-%s and took this bridge's "
            "session over; stopping (give each host its own host-id)",
            link->config.hostId.c_str(), link->broker.c_str(), link->config.hostId.c_str());
        return;
    }
    std::string what;
    if (link->refusal != 0) {
        what = "the broker at " + link->broker +
               " refused the connection: " + mosquitto_reason_string(link->refusal) +
               " (check username, password-file and the broker's ACL)";
    } else if (wasConnected) {
        what = "lost the connection to " + link->broker + ": " + ErrorText(code);
    } else {
        what = "cannot connect to " + link->broker + ": " + ErrorText(code);
    }
    link->refusal = 0;
    ScheduleAttempt(link, what, now);
}

void OnConnect(mosquitto *, void *userdata, int code, int, const mosquitto_property *) {
    MqttLink *link = LinkOf(userdata);
    if (code != 0) {
        link->refusal = code;
        return;
    }
    link->connected = true;
    ResetBackoff(&link->backoff);
    LogEvent("connected to %s", link->broker.c_str());
    if (link->handlers.connected != nullptr) {
        link->handlers.connected(link->handlers.context);
    }
}

// code is libmosquitto's reason (MOSQ_ERR_...), or the reason code of the
// broker's DISCONNECT.
void OnDisconnect(mosquitto *, void *userdata, int code, const mosquitto_property *) {
    MqttLink *link = LinkOf(userdata);
    if (code == MQTT_RC_SESSION_TAKEN_OVER) {
        link->takenOver = true;
    }
    ConnectionOver(link, code == 0 ? MOSQ_ERR_CONN_LOST : code, MonotonicSeconds());
}

void OnMessage(mosquitto *, void *userdata, const mosquitto_message *message) {
    MqttLink *link = LinkOf(userdata);
    std::string payload;
    if (message->payload != nullptr && message->payloadlen > 0) {
        payload.assign(static_cast<const char *>(message->payload),
                       static_cast<std::size_t>(message->payloadlen));
    }
    if (VerboseLog()) {
        LogDetail("received %s%s: %s", message->topic, message->retain ? " (retained)" : "",
                  JsonString(ShortenedPayload(payload, 256)).c_str());
    }
    if (link->handlers.message != nullptr) {
        link->handlers.message(link->handlers.context, message->topic, payload, message->retain);
    }
}

// A publish that the broker refused (its ACL, say) is logged: under MQTT 5
// the acknowledgement says so, where MQTT 3.1.1 would drop it silently.
void OnPublish(mosquitto *, void *userdata, int messageId, int reason, const mosquitto_property *) {
    MqttLink *link = LinkOf(userdata);
    if (reason >= 0x80) {
        LogEvent("the broker refused a publish: %s", mosquitto_reason_string(reason));
    }
    if (messageId == link->offlineMessageId) {
        link->offlineAcknowledged = true;
    }
}

void OnSubscribe(mosquitto *, void *, int, int count, const int *granted, const mosquitto_property *) {
    for (int i = 0; i < count; ++i) {
        if (granted[i] >= 0x80) {
            LogEvent("the broker refused a subscription: %s", mosquitto_reason_string(granted[i]));
        }
    }
}

// The broker answers each of the bridge's QoS 1 messages with a small
// acknowledgement and may hold the next command behind them until the bridge
// acknowledges them at the TCP level (Nagle's algorithm on its side, delayed
// ACKs on this one): acknowledging at once keeps a command from waiting up
// to 40 ms for that. Linux re-arms delayed ACKs by itself, so this is asked
// again before each read.
void AcknowledgeAtOnce(int socket) {
#ifdef TCP_QUICKACK
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    (void)socket;
#endif
}

bool Check(int result, const char *what, std::string *error) {
    if (result != MOSQ_ERR_SUCCESS) {
        *error = std::string(what) + ": " + ErrorText(result);
        return false;
    }
    return true;
}

bool SetUpClient(MqttLink *link, mosquitto *client, std::string *error) {
    const BridgeConfig &config = link->config;
    // MQTT 5: refusals come with their reasons, and a subscription can keep
    // the retain flag of a message published while the bridge is connected.
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // A command's answer is several small messages: without this, Nagle's
    // algorithm holds each after the first until the broker's delayed ACK.
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(client, OnConnect);
    mosquitto_disconnect_v5_callback_set(client, OnDisconnect);
    mosquitto_message_callback_set(client, OnMessage);
    mosquitto_publish_v5_callback_set(client, OnPublish);
    mosquitto_subscribe_v5_callback_set(client, OnSubscribe);
    mosquitto_log_callback_set(client, OnLibraryLog);
    const char offline[] = "offline";
    if (!Check(mosquitto_will_set(client, link->statusTopic.c_str(), static_cast<int>(sizeof offline - 1),
                                  offline, QOS, true),
               "cannot set the will", error)) {
        return false;
    }
    if (!config.username.empty() &&
        !Check(mosquitto_username_pw_set(client, config.username.c_str(),
                                         config.hasPassword ? config.password.c_str() : nullptr),
               "cannot set the credentials", error)) {
        return false;
    }
    if (!config.cafile.empty()) {
        // The broker's certificate is always verified, its name included.
        if (!Check(mosquitto_tls_set(client, config.cafile.c_str(), nullptr,
                                     config.certfile.empty() ? nullptr : config.certfile.c_str(),
                                     config.keyfile.empty() ? nullptr : config.keyfile.c_str(), nullptr),
                   "cannot set up TLS", error) ||
            !Check(mosquitto_tls_opts_set(client, 1, nullptr, nullptr), "cannot set up TLS", error) ||
            !Check(mosquitto_tls_insecure_set(client, false), "cannot set up TLS", error)) {
            return false;
        }
    }
    return true;
}

void DestroyClient(MqttLink *link) {
    if (link->client != nullptr) {
        mosquitto_destroy(link->client);
        link->client = nullptr;
    }
}

// A client for one connection, replacing the last one: with it go the QoS 1
// messages that the broker never acknowledged, which libmosquitto would
// otherwise send again after the next connection's snapshot, over it.
bool MakeClient(MqttLink *link, std::string *error) {
    DestroyClient(link);
    std::string clientId = "rxb540-" + link->config.hostId;
    link->client = mosquitto_new(clientId.c_str(), true, link);
    if (link->client == nullptr) {
        *error = std::string("cannot make the MQTT client: ") + std::strerror(errno);
        return false;
    }
    if (!SetUpClient(link, link->client, error)) {
        DestroyClient(link);
        return false;
    }
    return true;
}

void Attempt(MqttLink *link, double now) {
    link->refusal = 0;
    std::string error;
    if (MakeClient(link, &error)) {
        link->attempt = StartConnect(link->client, link->config.brokerHost, link->config.brokerPort,
                                     KEEPALIVE_SECONDS, MAX_INCOMING_PACKET, &error);
        if (link->attempt != nullptr) {
            link->client = nullptr;  // the attempt's until it is over
            return;
        }
    }
    ScheduleAttempt(link, "cannot connect to " + link->broker + ": " + error, now);
}

// An attempt that is over: its client's socket is served from now on, or
// the next attempt is scheduled.
void TakeUpAttempt(MqttLink *link, double now) {
    int result = MOSQ_ERR_SUCCESS;
    std::string error;
    if (!FinishConnect(&link->attempt, &link->client, &result, &error)) {
        return;
    }
    if (result == MOSQ_ERR_SUCCESS) {
        link->socketOpen = true;
        return;
    }
    ScheduleAttempt(link, "cannot connect to " + link->broker + ": " + WithoutFinalStop(error), now);
}

}  // namespace

double MonotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool LinkCreate(MqttLink *link, const BridgeConfig &config, const std::string &statusTopic,
                const LinkHandlers &handlers, std::string *error) {
    mosquitto_lib_init();
    link->config = config;
    link->statusTopic = statusTopic;
    link->broker = config.brokerHost + ":" + std::to_string(config.brokerPort);
    link->handlers = handlers;
    // Microseconds since boot, truncated to their low bits (a double beyond
    // unsigned's range may not be converted to it directly).
    const auto micros = static_cast<unsigned long long>(MonotonicSeconds() * 1e6);
    link->jitterSeed = static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(micros);
    return MakeClient(link, error);  // a setting that libmosquitto refuses stops the program at once
}

void LinkDestroy(MqttLink *link) {
    DestroyClient(link);
    // An attempt left under way keeps using the library until the program ends.
    if (!link->attemptLeftRunning) {
        mosquitto_lib_cleanup();
    }
}

int LinkPollSocket(const MqttLink *link, short *events) {
    *events = POLLIN;
    if (link->attempt != nullptr) {
        return ConnectAttemptFd(link->attempt);
    }
    int socket = link->socketOpen ? mosquitto_socket(link->client) : -1;
    if (socket >= 0 && mosquitto_want_write(link->client)) {
        *events = static_cast<short>(*events | POLLOUT);
    }
    return socket;
}

double LinkWakeTime(const MqttLink *link, double now) {
    // While connected, libmosquitto's keep-alive wants a look every second.
    return link->socketOpen || link->attempt != nullptr ? now + 1.0 : link->nextAttempt;
}

void LinkService(MqttLink *link, short revents, double now) {
    if (link->attempt != nullptr) {
        TakeUpAttempt(link, now);
        revents = 0;  // they were the attempt's
    }
    if (!link->socketOpen) {
        if (link->attempt == nullptr && !link->takenOver && now >= link->nextAttempt) {
            Attempt(link, now);
        }
        return;
    }
    int result = MOSQ_ERR_SUCCESS;
    if ((revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        AcknowledgeAtOnce(mosquitto_socket(link->client));
        result = mosquitto_loop_read(link->client, 1);
    }
    if (result == MOSQ_ERR_SUCCESS && link->socketOpen && mosquitto_want_write(link->client)) {
        result = mosquitto_loop_write(link->client, 1);
    }
    if (result == MOSQ_ERR_SUCCESS && link->socketOpen) {
        result = mosquitto_loop_misc(link->client);
    }
    if (result != MOSQ_ERR_SUCCESS || mosquitto_socket(link->client) < 0) {
        ConnectionOver(link, result == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : result, now);
    }
}

bool LinkPublish(MqttLink *link, const std::string &topic, const std::string &payload, bool retain) {
    if (!link->connected) {
        return false;
    }
    LogDetail("publish %s%s: %s", topic.c_str(), retain ? " (retained)" : "", payload.c_str());
    int messageId = 0;
    int result = mosquitto_publish(link->client, &messageId, topic.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), QOS, retain);
    if (result != MOSQ_ERR_SUCCESS) {
        LogEvent("cannot publish %s: %s", topic.c_str(), ErrorText(result).c_str());
        return false;
    }
    return true;
}

void LinkSubscribe(MqttLink *link, const std::string &filter, bool retainAsPublished) {
    // Retain as published: a command published with the retain flag is seen
    // as such, and refused, also while the bridge is subscribed.
    int result = mosquitto_subscribe_v5(link->client, nullptr, filter.c_str(), QOS,
                                        retainAsPublished ? MQTT_SUB_OPT_RETAIN_AS_PUBLISHED : 0, nullptr);
    if (result != MOSQ_ERR_SUCCESS) {
        LogEvent("cannot subscribe to %s: %s", filter.c_str(), ErrorText(result).c_str());
    }
}

void LinkUnsubscribe(MqttLink *link, const std::string &filter) {
    int result = mosquitto_unsubscribe_v5(link->client, nullptr, filter.c_str(), nullptr);
    if (result != MOSQ_ERR_SUCCESS) {
        LogEvent("cannot unsubscribe from %s: %s", filter.c_str(), ErrorText(result).c_str());
    }
}

void LinkStop(MqttLink *link) {
    if (link->attempt != nullptr) {
        link->attemptLeftRunning = AbandonConnect(&link->attempt);
    }
    if (!link->connected) {
        return;
    }
    const char offline[] = "offline";
    link->offlineAcknowledged = false;
    link->offlineMessageId = -1;
    if (mosquitto_publish(link->client, &link->offlineMessageId, link->statusTopic.c_str(),
                          static_cast<int>(sizeof offline - 1), offline, QOS, true) == MOSQ_ERR_SUCCESS) {
        double deadline = MonotonicSeconds() + STOP_WAIT_SECONDS;
        while (link->connected && !link->offlineAcknowledged && MonotonicSeconds() < deadline) {
            pollfd socket{};
            socket.fd = LinkPollSocket(link, &socket.events);
            if (socket.fd < 0 || poll(&socket, 1, 100) < 0) {
                break;
            }
            LinkService(link, socket.revents, MonotonicSeconds());
        }
    }
    if (link->connected) {
        link->socketOpen = false;  // an ending that is meant: no reconnection
        link->connected = false;
        mosquitto_disconnect(link->client);
        mosquitto_loop_write(link->client, 1);
    }
    LogEvent("disconnected from %s", link->broker.c_str());
}
