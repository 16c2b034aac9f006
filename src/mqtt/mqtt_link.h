// The bridge's connection to the broker, on libmosquitto without its
// threads or its own loop: the program's poll loop hands the socket's events
// in, and the link paces its connection attempts itself (libmosquitto does
// not retry a first connection, and retries a refused one at its own pace).
#ifndef RXB540_MQTT_MQTT_LINK_H
#define RXB540_MQTT_MQTT_LINK_H

#include <string>

#include "mqtt/backoff.h"
#include "mqtt/config.h"

struct mosquitto;

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
    mosquitto *client = nullptr;
    std::string broker;  // "host:port", for the log
    std::string host;
    int port = 0;
    LinkHandlers handlers;
    bool connected = false;   // the broker accepted the connection
    bool socketOpen = false;  // an attempt or a connection is under way
    bool everAttempted = false;
    int refusal = 0;  // the broker's CONNACK code of the attempt under way, 0 if none
    Backoff backoff;
    double nextAttempt = 0;  // monotonic seconds
    unsigned jitterSeed = 0;
    int offlineMessageId = -1;
    bool offlineAcknowledged = false;
};

// Seconds on the monotonic clock.
double MonotonicSeconds();

// Sets the client up: client id "rxb540-<host-id>", clean session, the will
// "offline" retained on statusTopic, credentials and TLS. False with a reason
// when libmosquitto refuses a setting.
bool LinkCreate(MqttLink *link, const BridgeConfig &config, const std::string &statusTopic,
                const LinkHandlers &handlers, std::string *error);
void LinkDestroy(MqttLink *link);

// The socket to poll and the events to wait for; -1 while there is none.
int LinkPollSocket(const MqttLink *link, short *events);

// The latest time at which LinkService must run again.
double LinkWakeTime(const MqttLink *link, double now);

// Reads and writes what the socket is ready for (revents from poll, 0 when
// woken by time), keeps the connection alive, notices its loss and makes the
// next attempt when it is due.
void LinkService(MqttLink *link, short revents, double now);

// QoS 1. False (nothing sent) while not connected: everything retained is
// published again after the next connection.
bool LinkPublish(MqttLink *link, const std::string &topic, const std::string &payload, bool retain);
void LinkSubscribe(MqttLink *link, const std::string &filter);

// The clean stop: "offline" retained on statusTopic (waiting a little for the
// broker's acknowledgement), then a normal disconnect, so no will is sent.
void LinkStop(MqttLink *link, const std::string &statusTopic);

#endif  // RXB540_MQTT_MQTT_LINK_H
