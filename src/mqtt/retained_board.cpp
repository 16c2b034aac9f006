// What the broker retained for the boards: read after each connection (the
// snapshot), it gives the state to restore a board to and the relay count
// that the last run bridged; and a board retired with B/<serial>/forget has
// it all cleared.
#include <unistd.h>

#include "mqtt/board_settings.h"
#include "mqtt/bridge.h"
#include "mqtt/ha_discovery.h"
#include "mqtt/log.h"
#include "mqtt/payloads.h"

namespace {

// The "relays" number of an info payload, 0 when it has none.
int InfoRelays(const std::string &payload) {
    const std::string key = "\"relays\":";
    std::size_t at = payload.find(key);
    if (at == std::string::npos) {
        return 0;
    }
    at = payload.find_first_not_of(' ', at + key.size());
    long relays = 0;
    return at != std::string::npos && ParseDecimalInRange(payload.substr(at, 1), 1, MAX_RELAYS, &relays)
               ? static_cast<int>(relays)
               : 0;
}

// Empty retained messages on the relay topics and the discovery messages of
// relays from on: the broker and Home Assistant forget them.
void ClearRelaysFrom(Bridge *bridge, const std::string &serial, int from) {
    const std::string &prefix = bridge->config.discoveryPrefix;
    for (int relay = from; relay <= MAX_RELAYS; ++relay) {
        LinkPublish(&bridge->link, RelayTopic(bridge->names, serial, relay), "", true);
        if (!prefix.empty()) {
            LinkPublish(&bridge->link, DiscoveryTopic(prefix, bridge->config.hostId, serial, relay), "",
                        true);
            LinkPublish(&bridge->link, ButtonDiscoveryTopic(prefix, bridge->config.hostId, serial, relay), "",
                        true);
        }
    }
}

// Relays that the last run bridged and this one does not are cleared once
// the snapshot said how many there were (all beyond the count when no info
// was retained).
void ClearShrunkRelays(Bridge *bridge, const std::string &serial) {
    const int relays = SettingsFor(bridge->config, serial).relays;
    RetainedBoard &retained = bridge->retained[serial];
    if (retained.infoRelays == 0 || retained.infoRelays > relays) {
        if (relays < MAX_RELAYS) {
            LogEvent("board %s: clearing the retained topics of relays %d to %d", serial.c_str(), relays + 1,
                     retained.infoRelays == 0 ? MAX_RELAYS : retained.infoRelays);
        }
        ClearRelaysFrom(bridge, serial, relays + 1);
    }
    retained.infoRelays = relays;
}

void RestoreBoard(Bridge *bridge, KnownBoard *board) {
    const RetainedBoard &retained = bridge->retained[board->serial];
    unsigned char state = retained.hasState ? retained.state : 0;
    board->awaitingRestore = false;
    if (BreaksInterlock(SettingsFor(bridge->config, board->serial).interlocks, state)) {
        PublishError(
            bridge, nullptr, nullptr,
            "board " + board->serial + ": the state " + std::to_string(state) +
                " last retained puts relays of one interlock group on together; 0 is written instead");
        state = 0;
    }
    if (!ApplyState(bridge, board, state, nullptr, nullptr)) {
        PublishBoardState(bridge, *board);
    }
}

void FinishSnapshot(Bridge *bridge) {
    bridge->snapshotDone = true;
    LinkUnsubscribe(&bridge->link, StateFilter(bridge->names));
    LinkUnsubscribe(&bridge->link, InfoFilter(bridge->names));
    for (const KnownBoard &board : bridge->registry.boards) {
        ClearShrunkRelays(bridge, board.serial);
    }
    for (KnownBoard &board : bridge->registry.boards) {
        if (board.present && board.awaitingRestore) {
            RestoreBoard(bridge, &board);
        }
    }
}

}  // namespace

void StartSnapshot(Bridge *bridge) {
    bridge->snapshotDone = false;
    bridge->syncToken = std::to_string(getpid()) + "." + std::to_string(bridge->counts.connects);
    // Without retain-as-published: the broker's stored messages come with
    // the retain flag, the bridge's own publishes since without.
    LinkSubscribe(&bridge->link, StateFilter(bridge->names), false);
    LinkSubscribe(&bridge->link, InfoFilter(bridge->names), false);
    LinkSubscribe(&bridge->link, SyncTopic(bridge->names), false);
    // The broker sends what it retained before it routes this marker back.
    LinkPublish(&bridge->link, SyncTopic(bridge->names), bridge->syncToken, false);
}

bool SnapshotMessage(Bridge *bridge, const std::string &topic, const std::string &payload, bool retained) {
    if (topic == SyncTopic(bridge->names)) {
        if (!bridge->snapshotDone && bridge->link.connected && payload == bridge->syncToken) {
            FinishSnapshot(bridge);
        }
        return true;
    }
    std::string serial = BoardOfTopic(bridge->names, topic, "state");
    const bool isState = !serial.empty();
    if (!isState) {
        serial = BoardOfTopic(bridge->names, topic, "info");
    }
    if (serial.empty()) {
        return false;
    }
    if (!retained || bridge->snapshotDone || !IsBridgeableSerial(serial)) {
        return true;
    }
    const KnownBoard *board = FindBoard(&bridge->registry, serial);
    RetainedBoard &entry = bridge->retained[serial];
    if (!isState) {
        entry.infoRelays = InfoRelays(payload);
    } else if (board == nullptr || !board->stateKnown) {
        // The state of a board that the bridge wrote since is newer than this.
        entry.hasState = ParseStatePayload(payload, &entry.state);
    }
    return true;
}

void RestoreOrWait(Bridge *bridge, KnownBoard *board) {
    if (bridge->snapshotDone) {
        ClearShrunkRelays(bridge, board->serial);
    }
    if (SettingsFor(bridge->config, board->serial).initialState != INITIAL_RESTORE) {
        return;
    }
    if (bridge->snapshotDone) {
        RestoreBoard(bridge, board);
    } else {
        board->awaitingRestore = true;
    }
}

void ForgetBoard(Bridge *bridge, const std::string &serial, const std::string &topic,
                 const std::string &payload) {
    if (!IsBridgeableSerial(serial)) {
        PublishError(bridge, &topic, &payload, "no board can have the serial number " + serial);
        return;
    }
    const KnownBoard *board = FindBoard(&bridge->registry, serial);
    if (board != nullptr && board->present) {
        PublishError(bridge, &topic, &payload,
                     "board " + serial + " is attached: unplug it before forgetting it; nothing was cleared");
        return;
    }
    LogEvent("forgetting board %s: clearing its retained topics", serial.c_str());
    for (const std::string &cleared : {AvailabilityTopic(bridge->names, serial),
                                       StateTopic(bridge->names, serial), InfoTopic(bridge->names, serial)}) {
        LinkPublish(&bridge->link, cleared, "", true);
    }
    ClearRelaysFrom(bridge, serial, 1);
    if (board != nullptr) {
        auto &boards = bridge->registry.boards;
        boards.erase(boards.begin() + (board - boards.data()));
    }
    bridge->retained.erase(serial);
    CancelReturns(bridge, serial, 0xFF);
    PublishBoards(bridge);
}
