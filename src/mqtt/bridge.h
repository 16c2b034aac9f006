// The bridge itself: the boards of this host on the broker. It owns the
// configuration, the topic names, the known boards and the link, and reacts
// to three things: a scan for boards, a (re)connection, a message.
#ifndef RXB540_MQTT_BRIDGE_H
#define RXB540_MQTT_BRIDGE_H

#include <map>
#include <string>
#include <vector>

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

// What the broker retained for a board, as read after the last connection
// and kept up to date with what the bridge publishes since.
struct RetainedBoard {
    bool hasState = false;
    unsigned char state = 0;
    int infoRelays = 0;  // the relays that B/<serial>/info named; 0 when none
};

// A relay to be switched back at the end of its pulse.
struct PendingReturn {
    std::string serial;
    int relay = 0;
    bool on = false;
    double due = 0;  // monotonic seconds
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
    bool snapshotDone = false;  // the retained states and infos of this connection are read
    std::string syncToken;      // the marker that ends the snapshot
    std::map<std::string, RetainedBoard> retained;
    std::vector<PendingReturn> returns;
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

// B/boards: the bridged boards' serials.
void PublishBoards(Bridge *bridge);

// The retained topics of one board: availability, info, state, relays.
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

// The retained snapshot (retained_board.cpp): subscribes to the boards'
// states and infos and sends the marker; records what it brings; at the
// marker restores the boards that wait for it and clears relays no longer
// bridged.
void StartSnapshot(Bridge *bridge);
// True when the message belonged to the snapshot (and was handled).
bool SnapshotMessage(Bridge *bridge, const std::string &topic, const std::string &payload, bool retained);
// A board first seen: restores it when the snapshot is there, else waits.
void RestoreOrWait(Bridge *bridge, KnownBoard *board);
// B/<serial>/forget: clears every retained topic of a board not attached.
void ForgetBoard(Bridge *bridge, const std::string &serial, const std::string &topic,
                 const std::string &payload);

// Relays (relay_switch.cpp). Switches one relay of a present board with a
// known state, first switching off the others of its interlock groups (a
// report of its own). False after an error.
bool SwitchRelay(Bridge *bridge, KnownBoard *board, int relay, bool on, const std::string *topic,
                 const std::string *payload);
// Switches the relay over and schedules its return after milliseconds.
void StartPulse(Bridge *bridge, KnownBoard *board, int relay, long milliseconds, const std::string *topic,
                const std::string *payload);
// Cancels the returns of the relays in mask (bit n-1 for relay n).
void CancelReturns(Bridge *bridge, const std::string &serial, unsigned mask);
// Carries out the returns due by now; the time of the next one.
void RunReturns(Bridge *bridge, double now);
double NextReturn(const Bridge *bridge);
// A board unplugged (or plugged in again between two scans): its returns
// are dropped, and what it is restored to is the state with the pulses over.
void DropReturnsOfUnplugged(Bridge *bridge, const std::string &serial);

// "ON", "OFF", or "None" while the state is unknown.
const char *RelayValue(const KnownBoard &board, int relay);

// B/health, retained: a JSON object of the uptime and the counts.
void PublishHealth(Bridge *bridge);

// Publishes "offline" on the availability of every board present, then on
// B/status, disconnects and releases the link.
void BridgeStop(Bridge *bridge);

#endif  // RXB540_MQTT_BRIDGE_H
