// The bridge's handling of one incoming message (topic, payload, retain flag)
// on arbitrary input, with three boards on the simulated host (the third
// refuses reports) and no broker. The first byte holds the retain flag and
// the topic's prefix, the rest is the topic and, after a zero byte, the
// payload. For every message: every handle is closed again and at most one
// report is sent; a retained message, or one on a topic that is no command
// of this host, reaches no board and changes no known state; a report goes
// only to the board the topic names; a whole state that the board took is
// what the board and the bridge then hold, and a relay command (a pulse
// switches its relay over) changes that one relay alone. Retained states
// and infos that the message brings never write to a board: without a
// connection, the boards wait for the broker's snapshot.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mqtt/bridge.h"
#include "mqtt/payloads.h"
#include "mqtt/topics.h"
#include "sim_host.h"
#include "require.h"

namespace {

const char *const SERIALS[] = {"S1", "S2", "S3"};
constexpr int BOARDS = 3;
const char *const PREFIXES[] = {"rxb540/fz/", "rxb540/fz/S1/", "", "homeassistant/"};

Bridge *TheBridge() {
    static Bridge *bridge = [] {
        std::string host;
        for (int i = 0; i < BOARDS; ++i) {
            host += std::string("vid=0x16c0 pid=0x05df manufacturer=") + RXB540_TEST_MANUFACTURER +
                    " product=RXB540 serial=" + SERIALS[i] + (i == 2 ? " feature=fail" : "") + "\n";
        }
        std::string error;
        Require(SimHostLoadText(host, &error), "the host loads: " + error);
        BridgeConfig config;
        config.hostId = "fz";
        config.relays = 4;
        config.brokerPort = MQTT_PORT;
        auto *made = new Bridge;
        Require(BridgeStart(made, config, &error), "the bridge starts: " + error);
        BridgeScan(made);
        Require(made->registry.bridged.size() == BOARDS, "every board is bridged");
        return made;
    }();
    return bridge;
}

int IndexOf(const std::string &serial) {
    for (int i = 0; i < BOARDS; ++i) {
        if (serial == SERIALS[i]) {
            return i;
        }
    }
    return -1;
}

// What a command that the bridge carries out must leave on the board.
void CheckCarriedOut(Bridge *bridge, const CommandTopic &command, const std::string &payload,
                     const KnownBoard &was) {
    const KnownBoard *board = FindBoard(&bridge->registry, command.serial);
    Require(board != nullptr && board->stateKnown, "a taken report makes the state known");
    Require(SimHostBoardState(IndexOf(command.serial)) == board->state, "the bridge holds the board's state");
    unsigned char state = 0;
    if (command.kind == COMMAND_STATE) {
        Require(ParseStatePayload(payload, &state) && state == board->state, "a whole state as sent");
        return;
    }
    const int relay = ParseRelayNumber(command.relayText, bridge->config.relays);
    RelayCommand action = RELAY_TOGGLE;
    long pulseMs = 0;
    Require(relay != 0 && ParseRelayCommand(payload, &action, &pulseMs) && was.stateKnown,
            "a valid relay command");
    if (action == RELAY_PULSE) {
        action = RELAY_TOGGLE;  // switched over until its return, which the poll loop's timer makes
    }
    const unsigned bit = 1u << (relay - 1);
    Require(((board->state ^ was.state) & ~bit) == 0, "the other relays stay");
    Require(action == RELAY_TOGGLE || ((board->state & bit) != 0) == (action == RELAY_ON), "ON or OFF");
    Require(action != RELAY_TOGGLE || board->state != was.state, "TOGGLE changes the relay");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Bridge *bridge = TheBridge();
    const bool retained = (data[0] & 1) != 0;
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::size_t split = rest.find('\0');
    const std::string topic = PREFIXES[(data[0] >> 1) & 3] + rest.substr(0, split);
    const std::string payload = split == std::string::npos ? "" : rest.substr(split + 1);

    const std::size_t reportsBefore = SimHostFeatureCalls().size();
    const std::vector<KnownBoard> before = bridge->registry.boards;
    BridgeMessage(bridge, topic, payload, retained);
    Require(SimHostOpenHandleCount() == 0 && SimHostOpenListCount() == 0, "every handle is closed again");
    const std::vector<SimFeatureCall> &reports = SimHostFeatureCalls();
    Require(reports.size() <= reportsBefore + 1, "at most one report");

    const CommandTopic command = ParseCommandTopic(bridge->names, topic);
    const int index = IndexOf(command.serial);
    if (retained || command.kind == COMMAND_NONE || index < 0) {
        Require(reports.size() == reportsBefore, "no report for this message");
    }
    const std::vector<KnownBoard> &after = bridge->registry.boards;
    Require(after.size() == before.size(), "the known boards stay");
    const bool taken = reports.size() > reportsBefore && reports.back().taken;
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (!taken || after[i].serial != command.serial) {
            Require(after[i].stateKnown == before[i].stateKnown && after[i].state == before[i].state,
                    "a board that no report reached keeps its state");
        }
    }
    if (reports.size() > reportsBefore) {
        Require(reports.back().interfaceIndex == index, "the report goes to the board that the topic names");
        if (taken) {
            CheckCarriedOut(bridge, command, payload, before[static_cast<std::size_t>(index)]);
        }
    }
    return 0;
}
