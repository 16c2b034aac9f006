#include "mqtt/bridge.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "mqtt/board_io.h"
#include "mqtt/ha_discovery.h"
#include "mqtt/log.h"
#include "mqtt/payloads.h"
#include "rxb540.h"

namespace {

constexpr std::size_t ERROR_PAYLOAD_LIMIT = 256;

Bridge *BridgeOf(void *context) {
    return static_cast<Bridge *>(context);
}

std::string JsonOrNull(const std::string *text) {
    return text != nullptr ? JsonString(ShortenedPayload(*text, ERROR_PAYLOAD_LIMIT)) : "null";
}

void PublishDiscovery(Bridge *bridge, const KnownBoard &board) {
    const std::string &prefix = bridge->config.discoveryPrefix;
    if (prefix.empty()) {
        return;
    }
    const std::string &hostId = bridge->config.hostId;
    const BoardSettings settings = SettingsFor(bridge->config, board.serial);
    for (int relay = 1; relay <= settings.relays; ++relay) {
        LinkPublish(&bridge->link, DiscoveryTopic(prefix, hostId, board.serial, relay),
                    DiscoveryPayload(bridge->names, hostId, board.serial, settings, relay), true);
        LinkPublish(&bridge->link, ButtonDiscoveryTopic(prefix, hostId, board.serial, relay),
                    ButtonDiscoveryPayload(bridge->names, hostId, board.serial, settings, relay), true);
    }
}

void BoardPlugged(Bridge *bridge, KnownBoard *board) {
    LogEvent("board %s is attached at %s", board->serial.c_str(), board->path.c_str());
    const int initialState = SettingsFor(bridge->config, board->serial).initialState;
    if (initialState >= 0) {
        ApplyState(bridge, board, static_cast<unsigned char>(initialState), nullptr, nullptr);
    }
    RestoreOrWait(bridge, board);
    PublishBoard(bridge, *board);
    PublishDiscovery(bridge, *board);
}

}  // namespace

bool BridgeStart(Bridge *bridge, const BridgeConfig &config, std::string *error) {
    bridge->config = config;
    bridge->started = MonotonicSeconds();
    bridge->names = MakeTopicNames(config.baseTopic, config.hostId);
    LinkHandlers handlers;
    handlers.context = bridge;
    handlers.connected = BridgeConnected;
    handlers.message = BridgeMessage;
    return LinkCreate(&bridge->link, config, StatusTopic(bridge->names), handlers, error);
}

void PublishBoards(Bridge *bridge) {
    LinkPublish(&bridge->link, BoardsTopic(bridge->names), JsonStringArray(bridge->registry.bridged), true);
}

void BridgeStop(Bridge *bridge) {
    // A pulse under way ends now: its relay is not left switched over.
    RunReturns(bridge, std::numeric_limits<double>::infinity());
    // The will covers B/status alone; on a clean stop every board says so too.
    for (const KnownBoard &board : bridge->registry.boards) {
        if (board.present) {
            LinkPublish(&bridge->link, AvailabilityTopic(bridge->names, board.serial), "offline", true);
        }
    }
    LinkStop(&bridge->link);
    LinkDestroy(&bridge->link);
}

void PublishHealth(Bridge *bridge) {
    const BridgeCounts &counts = bridge->counts;
    auto field = [](const char *name, unsigned long value) {
        return "\"" + std::string(name) + "\": " + std::to_string(value);
    };
    auto uptime = static_cast<unsigned long>(MonotonicSeconds() - bridge->started);
    LinkPublish(&bridge->link, HealthTopic(bridge->names),
                "{" + field("uptime_s", uptime) + ", " + field("boards", bridge->registry.bridged.size()) +
                    ", " + field("commands", counts.commands) + ", " + field("errors", counts.errors) + ", " +
                    field("connects", counts.connects) + "}",
                true);
    bridge->nextHealth = MonotonicSeconds() + bridge->config.healthSeconds;
}

void PublishBoard(Bridge *bridge, const KnownBoard &board) {
    LinkPublish(&bridge->link, AvailabilityTopic(bridge->names, board.serial),
                board.present ? "online" : "offline", true);
    LinkPublish(&bridge->link, InfoTopic(bridge->names, board.serial),
                InfoPayload(SettingsFor(bridge->config, board.serial)), true);
    PublishBoardState(bridge, board);
}

void PublishBoardState(Bridge *bridge, const KnownBoard &board) {
    if (board.awaitingRestore) {
        return;  // "unknown" would overwrite the retained state before it was read
    }
    MqttLink *link = &bridge->link;
    LinkPublish(link, StateTopic(bridge->names, board.serial),
                board.stateKnown ? std::to_string(board.state) : "unknown", true);
    const int relays = SettingsFor(bridge->config, board.serial).relays;
    for (int relay = 1; relay <= relays; ++relay) {
        LinkPublish(link, RelayTopic(bridge->names, board.serial, relay), RelayValue(board, relay), true);
    }
}

void PublishAllDiscovery(Bridge *bridge) {
    for (const KnownBoard &board : bridge->registry.boards) {
        PublishDiscovery(bridge, board);
    }
}

void PublishError(Bridge *bridge, const std::string *topic, const std::string *payload,
                  const std::string &error) {
    LogEvent("%s%s%s", topic != nullptr ? topic->c_str() : "", topic != nullptr ? ": " : "", error.c_str());
    ++bridge->counts.errors;
    LinkPublish(&bridge->link, ErrorTopic(bridge->names),
                "{\"topic\": " + JsonOrNull(topic) + ", \"payload\": " + JsonOrNull(payload) +
                    ", \"error\": " + JsonString(error) + "}",
                false);
}

bool ApplyState(Bridge *bridge, KnownBoard *board, unsigned char state, const std::string *topic,
                const std::string *payload) {
    std::string reason;
    int result = WriteBoardState(*board, state, &reason);
    if (result != RXB540_OK) {
        PublishError(bridge, topic, payload, "board " + board->serial + ": " + reason);
        if (result != RXB540_ERROR_COMMUNICATION) {
            bridge->nextScan = 0;  // the board may be gone or another: look again at once
        }
        return false;
    }
    board->state = state;
    board->stateKnown = true;
    board->awaitingRestore = false;
    RetainedBoard &retained = bridge->retained[board->serial];
    retained.hasState = true;
    retained.state = state;
    LogEvent("board %s: state %u", board->serial.c_str(), static_cast<unsigned>(state));
    PublishBoardState(bridge, *board);
    return true;
}

void BridgeScan(Bridge *bridge) {
    std::vector<ListedBoard> listed;
    int result = ListAttachedBoards(&listed);
    if (result != RXB540_OK) {
        if (!bridge->listingFailed) {
            bridge->listingFailed = true;
            PublishError(
                bridge, nullptr, nullptr,
                std::string("cannot list the boards: ") + rxb540_strerror(result) +
                    (result == RXB540_ERROR_PLATFORM ? std::string(" (") + std::strerror(errno) + ")" : ""));
        }
        return;
    }
    if (bridge->listingFailed) {
        bridge->listingFailed = false;
        LogEvent("the boards can be listed again");
    }
    ScanChanges changes = ApplyScan(&bridge->registry, listed);
    for (const std::string &problem : changes.newProblems) {
        PublishError(bridge, nullptr, nullptr, problem);
    }
    for (const std::string &serial : changes.unreadable) {
        LogEvent("board %s cannot be read just now; it stays attached with its state", serial.c_str());
    }
    for (const std::string &serial : changes.unplugged) {
        LogEvent("board %s is gone", serial.c_str());
        DropReturnsOfUnplugged(bridge, serial);
        LinkPublish(&bridge->link, AvailabilityTopic(bridge->names, serial), "offline", true);
    }
    for (const std::string &serial : changes.plugged) {
        DropReturnsOfUnplugged(bridge, serial);  // plugged in again between two scans
        BoardPlugged(bridge, FindBoard(&bridge->registry, serial));
    }
    if (changes.bridgedChanged) {
        PublishBoards(bridge);
    }
}

void BridgeConnected(void *context) {
    Bridge *bridge = BridgeOf(context);
    MqttLink *link = &bridge->link;
    ++bridge->counts.connects;
    StartSnapshot(bridge);
    LinkSubscribe(link, StateCommandFilter(bridge->names));
    LinkSubscribe(link, RelayCommandFilter(bridge->names));
    LinkSubscribe(link, ForgetCommandFilter(bridge->names));
    if (!bridge->config.discoveryPrefix.empty()) {
        LinkSubscribe(link, DiscoveryStatusTopic(bridge->config.discoveryPrefix));
    }
    LinkPublish(link, StatusTopic(bridge->names), "online", true);
    PublishBoards(bridge);
    for (const KnownBoard &board : bridge->registry.boards) {
        PublishBoard(bridge, board);
    }
    PublishAllDiscovery(bridge);
    // Boards that are not bridged were reported when the scan found them,
    // maybe while no broker was there to take the message (the first scan
    // runs before the first connection): they are reported again.
    for (const std::string &problem : bridge->registry.problems) {
        PublishError(bridge, nullptr, nullptr, problem);
    }
    PublishHealth(bridge);
}
