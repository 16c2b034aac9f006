// Single relays: switching one with its interlock groups kept, and pulses,
// whose returns run from the poll loop's timer (the loop's one thread).
#include <algorithm>
#include <limits>

#include "mqtt/board_settings.h"
#include "mqtt/bridge.h"
#include "mqtt/log.h"

const char *RelayValue(const KnownBoard &board, int relay) {
    if (!board.stateKnown) {
        return "None";
    }
    return ((board.state >> (relay - 1)) & 1) != 0 ? "ON" : "OFF";
}

bool SwitchRelay(Bridge *bridge, KnownBoard *board, int relay, bool on, const std::string *topic,
                 const std::string *payload) {
    const unsigned bit = 1u << (relay - 1);
    unsigned state = board->state;
    if (on) {
        const unsigned partners =
            InterlockPartners(SettingsFor(bridge->config, board->serial).interlocks, relay) & state;
        if (partners != 0) {
            // The others of the group go off in a report of their own, so that
            // the two are never on together, not even for one report.
            CancelReturns(bridge, board->serial, partners);
            state &= ~partners;
            if (!ApplyState(bridge, board, static_cast<unsigned char>(state), topic, payload)) {
                return false;
            }
        }
        state |= bit;
    } else {
        state &= ~bit;
    }
    return ApplyState(bridge, board, static_cast<unsigned char>(state), topic, payload);
}

void StartPulse(Bridge *bridge, KnownBoard *board, int relay, long milliseconds, const std::string *topic,
                const std::string *payload) {
    const bool wasOn = ((board->state >> (relay - 1)) & 1) != 0;
    if (SwitchRelay(bridge, board, relay, !wasOn, topic, payload)) {
        bridge->returns.push_back(PendingReturn{
            board->serial, relay, wasOn, MonotonicSeconds() + static_cast<double>(milliseconds) / 1000.0});
    }
}

void CancelReturns(Bridge *bridge, const std::string &serial, unsigned mask) {
    auto &returns = bridge->returns;
    returns.erase(std::remove_if(returns.begin(), returns.end(),
                                 [&](const PendingReturn &pending) {
                                     return pending.serial == serial &&
                                            ((mask >> (pending.relay - 1)) & 1) != 0;
                                 }),
                  returns.end());
}

void RunReturns(Bridge *bridge, double now) {
    std::vector<PendingReturn> due;
    auto &returns = bridge->returns;
    auto firstLater = std::stable_partition(
        returns.begin(), returns.end(), [now](const PendingReturn &pending) { return pending.due <= now; });
    due.assign(returns.begin(), firstLater);
    returns.erase(returns.begin(), firstLater);
    for (const PendingReturn &pending : due) {
        KnownBoard *board = FindBoard(&bridge->registry, pending.serial);
        if (board != nullptr && board->present && board->stateKnown) {
            LogEvent("board %s: relay %d back %s after its pulse", pending.serial.c_str(), pending.relay,
                     pending.on ? "on" : "off");
            SwitchRelay(bridge, board, pending.relay, pending.on, nullptr, nullptr);
        }
    }
}

double NextReturn(const Bridge *bridge) {
    double next = std::numeric_limits<double>::infinity();
    for (const PendingReturn &pending : bridge->returns) {
        next = std::min(next, pending.due);
    }
    return next;
}

void DropReturnsOfUnplugged(Bridge *bridge, const std::string &serial) {
    RetainedBoard &retained = bridge->retained[serial];
    for (const PendingReturn &pending : bridge->returns) {
        if (pending.serial == serial && retained.hasState) {
            const unsigned bit = 1u << (pending.relay - 1);
            retained.state =
                static_cast<unsigned char>(pending.on ? retained.state | bit : retained.state & ~bit);
        }
    }
    CancelReturns(bridge, serial, 0xFF);
}
