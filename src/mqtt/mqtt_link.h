// The bridge's connection to the broker, on libmosquitto without its
// threads or its own loop: the program's poll loop hands the socket's events
// in, and the link paces its connection attempts itself (libmosquitto does
// not retry a first connection, and retries a refused one at its own pace).
// Each attempt has a client of its own: nothing a lost connection left
// unacknowledged is sent again after the next one's fresh snapshot, and the
// attempt's resolving and connecting run off the loop (connect_attempt.h).
#ifndef RXB540_MQTT_MQTT_LINK_H
#define RXB540_MQTT_MQTT_LINK_H

#include <string>

#include "mqtt/backoff.h"
#include "mqtt/config.h"

struct mosquitto;
struct ConnectAttempt;

// The largest packet that the broker may send the bridge (MQTT 5's Maximum
// Packet Size): every topic the bridge reads carries a few bytes, and the
// broker drops a larger message instead of sending it.
constexpr unsigned MAX_INCOMING_PACKET = 4096;

// What the link tells its owner; called from inside LinkService.
struct LinkHandlers {
    void *context = nullptr;
    // The broker accepted the connection: subscribe and publish everything retained.
    void (*connected)(void *context) = nullptr;
    // A message on a subscribed topic. retained is the flag it was published
    // with, or set for a message that the broker had stored.
    void (*message)(void *context, const std::string &topic, const std::string &payload,
                    bool retained) = nullptr;
};

struct MqttLink {
    mosquitto *client = nullptr;        // the current connection's, or the last one's
    ConnectAttempt *attempt = nullptr;  // resolving and connecting, off the loop
    BridgeConfig config;
    std::string statusTopic;
    std::string broker;  // "host:port", for the log
    LinkHandlers handlers;
    bool connected = false;           // the broker accepted the connection
    bool socketOpen = false;          // connected at the TCP level, or connected
    bool takenOver = false;           // another client with this client id took the session over: stop
    bool attemptLeftRunning = false;  // at the stop
    int refusal = 0;                  // the broker's CONNACK code of the attempt under way, 0 if none
    Backoff backoff;
    double nextAttempt = 0;  // monotonic seconds
    unsigned jitterSeed = 0;
    int offlineMessageId = -1;
    bool offlineAcknowledged = false;
};

// Seconds on the monotonic clock.
double MonotonicSeconds();

// Sets the link up. Each connection's client has the client id
// "rxb540-<host-id>", a clean session, the will "offline" retained on
// statusTopic, the credentials and TLS. False with a reason when
// libmosquitto refuses a setting.
bool LinkCreate(MqttLink *link, const BridgeConfig &config, const std::string &statusTopic,
                const LinkHandlers &handlers, std::string *error);
void LinkDestroy(MqttLink *link);

// The socket to poll and the events to wait for; -1 while there is none.
int LinkPollSocket(const MqttLink *link, short *events);

// The latest time at which LinkService must run again.
double LinkWakeTime(const MqttLink *link, double now);

// Reads and writes what the socket is ready for (revents from poll, 0 when
// woken by time), keeps the connection alive, notices its loss, starts the
// next attempt when it is due and takes up an attempt that is over.
void LinkService(MqttLink *link, short revents, double now);

// QoS 1. False (nothing sent) while not connected: everything retained is
// published again after the next connection.
bool LinkPublish(MqttLink *link, const std::string &topic, const std::string &payload, bool retain);
// retainAsPublished: a message published with the retain flag while the
// bridge is subscribed keeps it (MQTT 5); else only the messages that the
// broker had stored come with it.
void LinkSubscribe(MqttLink *link, const std::string &filter, bool retainAsPublished = true);
void LinkUnsubscribe(MqttLink *link, const std::string &filter);

// The clean stop: "offline" retained on the status topic (waiting a little
// for the broker's acknowledgement), then a normal disconnect, so no will is
// sent.
void LinkStop(MqttLink *link);

#endif  // RXB540_MQTT_MQTT_LINK_H
