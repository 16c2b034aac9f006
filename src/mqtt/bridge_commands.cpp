// The messages that reach the bridge: commands for the boards, and Home
// Assistant's status.
#include "mqtt/board_settings.h"
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
    if (board == nullptr) {
        return;
    }
    if (BreaksInterlock(SettingsFor(bridge->config, board->serial).interlocks, state)) {
        PublishError(bridge, &topic, &payload,
                     "the state " + payload + " puts relays of one interlock group of board " +
                         board->serial + " on together; nothing was sent");
        return;
    }
    if (ApplyState(bridge, board, state, &topic, &payload)) {
        CancelReturns(bridge, board->serial, 0xFF);  // the whole state holds, pulses or not
    }
}

// An empty payload asks for the relay's topic again.
void AnswerRelayQuery(Bridge *bridge, const CommandTopic &command, int relay, const std::string &topic) {
    const KnownBoard *board = FindBoard(&bridge->registry, command.serial);
    if (board == nullptr) {
        PublishError(bridge, &topic, nullptr,
                     "no board with the serial number " + command.serial + " is bridged on this host (see " +
                         BoardsTopic(bridge->names) + ")");
    } else if (!board->awaitingRestore) {
        LinkPublish(&bridge->link, RelayTopic(bridge->names, board->serial, relay), RelayValue(*board, relay),
                    true);
    }
}

// One relay: the new state is the last state written with that one bit
// changed, so it needs a known state.
void HandleRelayCommand(Bridge *bridge, const CommandTopic &command, const std::string &topic,
                        const std::string &payload) {
    const BoardSettings settings = SettingsFor(bridge->config, command.serial);
    int relay = ParseRelayNumber(command.relayText, settings.relays);
    if (relay == 0) {
        PublishError(
            bridge, &topic, &payload,
            "no relay " + command.relayText + ": the relays are 1 to " + std::to_string(settings.relays));
        return;
    }
    if (payload.empty()) {
        AnswerRelayQuery(bridge, command, relay, topic);
        return;
    }
    RelayCommand action = RELAY_ON;
    long pulseMs = 0;
    if (!ParseRelayCommand(payload, &action, &pulseMs)) {
        PublishError(
            bridge, &topic, &payload,
            "the payload must be ON, OFF or TOGGLE, PULSE or PULSE <ms> (1 to 3600000), or empty (a query)");
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
    // Any command for the relay ends a pulse under way: its return is off.
    CancelReturns(bridge, board->serial, 1u << (relay - 1));
    const bool on = ((board->state >> (relay - 1)) & 1) != 0;
    if (action == RELAY_PULSE) {
        StartPulse(bridge, board, relay, pulseMs != 0 ? pulseMs : settings.pulseMs, &topic, &payload);
    } else {
        SwitchRelay(bridge, board, relay, action == RELAY_ON || (action == RELAY_TOGGLE && !on), &topic,
                    &payload);
    }
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
    if (SnapshotMessage(bridge, topic, payload, retained)) {
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
    } else if (command.kind == COMMAND_FORGET) {
        ForgetBoard(bridge, command.serial, topic, payload);
    } else {
        HandleRelayCommand(bridge, command, topic, payload);
    }
}
