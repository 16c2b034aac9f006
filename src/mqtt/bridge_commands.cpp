// The messages that reach the bridge: commands for the boards, and Home
// Assistant's status.
#include "mqtt/bridge.h"
#include "mqtt/ha_discovery.h"
#include "mqtt/log.h"
#include "mqtt/payloads.h"

namespace {

// The present board that a command names, or null after an error.
KnownBoard *CommandedBoard(Bridge *bridge, const std::string &serial, const std::string &topic,
                           const std::string &payload) {
    KnownBoard *board = FindBoard(&bridge->registry, serial);
    if (board == nullptr) {
        PublishError(bridge, &topic, &payload,
                     "no board with the serial number " + serial + " is bridged on this host (see " +
                         BoardsTopic(bridge->names) + ")");
        return nullptr;
    }
    if (!board->present) {
        PublishError(bridge, &topic, &payload, "board " + serial + " is not attached now; nothing was sent");
        return nullptr;
    }
    return board;
}

void HandleStateCommand(Bridge *bridge, const CommandTopic &command, const std::string &topic,
                        const std::string &payload) {
    unsigned char state = 0;
    if (!ParseStatePayload(payload, &state)) {
        PublishError(bridge, &topic, &payload, "the payload must be a whole state: 0 to 255 in decimal");
        return;
    }
    KnownBoard *board = CommandedBoard(bridge, command.serial, topic, payload);
    if (board != nullptr) {
        ApplyState(bridge, board, state, &topic, &payload);
    }
}

// One relay: the new state is the last state written with that one bit
// changed, so it needs a known state.
void HandleRelayCommand(Bridge *bridge, const CommandTopic &command, const std::string &topic,
                        const std::string &payload) {
    int relay = ParseRelayNumber(command.relayText, bridge->config.relays);
    if (relay == 0) {
        PublishError(bridge, &topic, &payload,
                     "no relay " + command.relayText + ": the relays are 1 to " +
                         std::to_string(bridge->config.relays));
        return;
    }
    RelayCommand action;
    if (!ParseRelayCommand(payload, &action)) {
        PublishError(bridge, &topic, &payload, "the payload must be ON, OFF or TOGGLE");
        return;
    }
    KnownBoard *board = CommandedBoard(bridge, command.serial, topic, payload);
    if (board == nullptr) {
        return;
    }
    if (!board->stateKnown) {
        PublishError(bridge, &topic, &payload,
                     "the state of board " + board->serial +
                         " is unknown (the board cannot be read back): send a whole state to " +
                         StateCommandTopic(bridge->names, board->serial) + " first; nothing was sent");
        return;
    }
    unsigned bit = 1u << (relay - 1);
    unsigned state = board->state;
    if (action == RELAY_ON) {
        state |= bit;
    } else if (action == RELAY_OFF) {
        state &= ~bit;
    } else {
        state ^= bit;
    }
    ApplyState(bridge, board, static_cast<unsigned char>(state), &topic, &payload);
}

}  // namespace

void BridgeMessage(void *context, const std::string &topic, const std::string &payload, bool retained) {
    Bridge *bridge = static_cast<Bridge *>(context);
    const std::string &prefix = bridge->config.discoveryPrefix;
    if (!prefix.empty() && topic == DiscoveryStatusTopic(prefix)) {
        if (payload == "online") {
            LogEvent("Home Assistant is online: publishing the discovery messages again");
            PublishAllDiscovery(bridge);
        }
        return;
    }
    CommandTopic command = ParseCommandTopic(bridge->names, topic);
    if (command.kind == COMMAND_NONE) {
        return;
    }
    if (retained && payload.empty()) {
        return;  // the deletion of a retained command, which is how one is cleared
    }
    ++bridge->counts.commands;
    if (retained) {
        // A stored command would switch the relays at every (re)connection,
        // hours after it was meant.
        PublishError(
            bridge, &topic, &payload,
            "a retained command is ignored: publish commands without the retain flag, and clear this "
            "one by publishing an empty retained message to the topic");
        return;
    }
    if (command.kind == COMMAND_STATE) {
        HandleStateCommand(bridge, command, topic, payload);
    } else {
        HandleRelayCommand(bridge, command, topic, payload);
    }
}
