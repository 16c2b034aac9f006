// Which boards the bridge knows: every board it has bridged since it
// started, present or not, with the state it last wrote to each. A scan's
// listing is folded in by ApplyScan, which says what changed.
#ifndef RXB540_MQTT_BOARD_REGISTRY_H
#define RXB540_MQTT_BOARD_REGISTRY_H

#include <string>
#include <vector>

struct ListedBoard {
    std::string serial;
    std::string path;
    std::string attachment;  // "" where the host does not tell
    bool readable = true;    // false: the board's IDs, but strings that could not be read (no serial)
};

struct KnownBoard {
    std::string serial;
    std::string path;  // where it was last seen
    bool present = false;
    bool stateKnown = false;  // false until the bridge wrote a state that the board took
    unsigned char state = 0;
    std::string attachment;        // as last seen
    bool unreadable = false;       // present, but its strings could not be read at the last scan
    bool awaitingRestore = false;  // to be restored once the broker's retained state is known
};

struct BoardRegistry {
    std::vector<KnownBoard> boards;     // first-seen order; never shrinks
    std::vector<std::string> bridged;   // serials of the present boards, enumeration order
    std::vector<std::string> problems;  // why listed boards are not bridged, as of the last scan
};

struct ScanChanges {
    std::vector<std::string> plugged;      // first seen, back again, or at a new path: state unknown
    std::vector<std::string> unplugged;    // gone, or no longer bridgeable
    std::vector<std::string> newProblems;  // problems that the previous scan did not have
    std::vector<std::string> unreadable;   // present boards that could not be read, this scan first
    bool bridgedChanged = false;           // the list of bridged serials differs
};

// Folds one listing (enumeration order) in. A board is bridged when its
// serial can be a topic level and no other listed board has the same serial;
// each other board gives a problem text that says how to cure it. A board
// that comes back at its path with another attachment was enumerated anew
// (it powered up again) and counts as plugged. A bridged board whose strings
// could not be read, but whose interface is still at its path with its
// attachment, stays bridged at its place with its state: only a board that
// is gone, or enumerated anew, counts as unplugged.
ScanChanges ApplyScan(BoardRegistry *registry, const std::vector<ListedBoard> &listed);

// The known board with that serial, or null.
KnownBoard *FindBoard(BoardRegistry *registry, const std::string &serial);

#endif  // RXB540_MQTT_BOARD_REGISTRY_H
