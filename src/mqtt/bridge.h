// The bridge itself: the boards of this host on the broker. It owns the
// configuration, the topic names, the known boards and the link, and reacts
// to three things: a scan for boards, a (re)connection, a message.
#ifndef RXB540_MQTT_BRIDGE_H
#define RXB540_MQTT_BRIDGE_H

#include <string>

#include "mqtt/board_registry.h"
#include "mqtt/config.h"
#include "mqtt/mqtt_link.h"
#include "mqtt/topics.h"

// What B/health reports besides the uptime and the boards, counted since the start.
struct BridgeCounts {
    unsigned long commands = 0;  // messages on the command topics
    unsigned long errors = 0;    // messages on B/error
    unsigned long connects = 0;  // connections the broker accepted
};

struct Bridge {
    BridgeConfig config;
    TopicNames names;
    BoardRegistry registry;
    MqttLink link;
    double nextScan = 0;  // monotonic seconds
    double nextHealth = 0;
    double started = 0;
    BridgeCounts counts;
    bool listingFailed = false;
};

// Sets up the topic names and the link (not yet connecting).
bool BridgeStart(Bridge *bridge, const BridgeConfig &config, std::string *error);

// Lists the boards and publishes what changed: plugged and unplugged boards,
// boards that cannot be bridged, the list of bridged boards.
void BridgeScan(Bridge *bridge);

// Subscribes and publishes everything retained; called on each connection.
void BridgeConnected(void *bridge);

// A message on one of the bridge's subscriptions (bridge_commands.cpp).
void BridgeMessage(void *bridge, const std::string &topic, const std::string &payload, bool retained);

// The retained topics of one board: availability, state, relays.
void PublishBoard(Bridge *bridge, const KnownBoard &board);
// Its state and relays only.
void PublishBoardState(Bridge *bridge, const KnownBoard &board);

// Home Assistant's config messages of every known board, when discovery is on.
void PublishAllDiscovery(Bridge *bridge);

// One message on B/error (never retained) and one log line. topic and
// payload are those of the message that caused it, or null.
void PublishError(Bridge *bridge, const std::string *topic, const std::string *payload,
                  const std::string &error);

// Sends a state to a present board and, when the board took it, publishes
// the new state and relays. False (with an error published) otherwise.
bool ApplyState(Bridge *bridge, KnownBoard *board, unsigned char state, const std::string *topic,
                const std::string *payload);

// B/health, retained: a JSON object of the uptime and the counts.
void PublishHealth(Bridge *bridge);

// Publishes "offline" on the availability of every board present, then on
// B/status, disconnects and releases the link.
void BridgeStop(Bridge *bridge);

#endif  // RXB540_MQTT_BRIDGE_H
