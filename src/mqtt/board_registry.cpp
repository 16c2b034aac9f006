#include "mqtt/board_registry.h"

#include <algorithm>
#include <map>

#include "mqtt/payloads.h"

namespace {

const char *SERIAL_CURE = "write a new serial into it (rxb540 init with only that board attached)";

bool Contains(const std::vector<std::string> &texts, const std::string &text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::string UnbridgeableProblem(const ListedBoard &board) {
    if (board.serial.empty()) {
        return "the board at " + board.path +
               " has an empty serial number and is not bridged: " + SERIAL_CURE;
    }
    return "the board at " + board.path + " has the serial number " + JsonString(board.serial) +
           ", which is not 1 to " + std::to_string(MAX_BRIDGED_SERIAL) +
           " characters of A-Z a-z 0-9 . _ -, and is not bridged: " + SERIAL_CURE;
}

std::string SharedSerialProblem(const std::string &serial, const std::vector<std::string> &paths) {
    std::string where;
    for (const std::string &path : paths) {
        where += (where.empty() ? "" : ", ") + path;
    }
    return "the boards at " + where + " share the serial number " + JsonString(serial) +
           " and none of them is bridged: write a new serial into all but one of them"
           " (rxb540 init with only that board attached)";
}

// A text that the host does not tell ("") matches any.
bool SameAttachment(const std::string &known, const std::string &listed) {
    return known.empty() || listed.empty() || known == listed;
}

KnownBoard NewlyPlugged(const ListedBoard &board) {
    KnownBoard known;
    known.serial = board.serial;
    known.path = board.path;
    known.present = true;
    known.attachment = board.attachment;
    return known;
}

// Whether an interface that could not be read is still at the board's path,
// with the board's attachment.
bool StillAttached(const KnownBoard &known, const std::vector<ListedBoard> &listed) {
    return std::any_of(listed.begin(), listed.end(), [&known](const ListedBoard &entry) {
        return !entry.readable && entry.path == known.path &&
               SameAttachment(known.attachment, entry.attachment);
    });
}

// Puts the kept boards back into the bridged list at the places that they
// had in the previous one, so that a board that cannot be read for a moment
// changes nothing that is published.
void KeepPlaces(const std::vector<std::string> &previous, const std::vector<std::string> &kept,
                std::vector<std::string> *bridged) {
    for (std::size_t i = 0; i < previous.size(); ++i) {
        if (Contains(kept, previous[i])) {
            bridged->insert(bridged->begin() + static_cast<std::ptrdiff_t>(std::min(i, bridged->size())),
                            previous[i]);
        }
    }
}

}  // namespace

KnownBoard *FindBoard(BoardRegistry *registry, const std::string &serial) {
    for (size_t index = 0; index < registry->boards.size(); ++index) {
        if (registry->boards[index].serial == serial) {
            return &registry->boards[index];
        }
    }
    return nullptr;
}

ScanChanges ApplyScan(BoardRegistry *registry, const std::vector<ListedBoard> &listed) {
    std::map<std::string, std::vector<std::string>> pathsBySerial;
    for (const ListedBoard &board : listed) {
        if (board.readable) {
            pathsBySerial[board.serial].push_back(board.path);
        }
    }
    std::vector<std::string> problems;
    std::vector<ListedBoard> bridgeable;
    for (const ListedBoard &board : listed) {
        if (!board.readable) {
            continue;
        }
        const std::vector<std::string> &paths = pathsBySerial[board.serial];
        if (!IsBridgeableSerial(board.serial)) {
            problems.push_back(UnbridgeableProblem(board));
        } else if (paths.size() > 1) {
            if (paths.front() == board.path) {
                problems.push_back(SharedSerialProblem(board.serial, paths));
            }
        } else {
            bridgeable.push_back(board);
        }
    }

    ScanChanges changes;
    std::vector<std::string> bridged;
    for (const ListedBoard &board : bridgeable) {
        bridged.push_back(board.serial);
        KnownBoard *known = FindBoard(registry, board.serial);
        if (known == nullptr) {
            registry->boards.push_back(NewlyPlugged(board));
            changes.plugged.push_back(board.serial);
        } else if (!known->present || known->path != board.path ||
                   !SameAttachment(known->attachment, board.attachment)) {
            *known = NewlyPlugged(board);
            changes.plugged.push_back(board.serial);
        } else {
            known->unreadable = false;
            if (known->attachment.empty()) {
                known->attachment = board.attachment;
            }
        }
    }
    std::vector<std::string> kept;
    for (KnownBoard &known : registry->boards) {
        if (!known.present || Contains(bridged, known.serial)) {
            continue;
        }
        if (pathsBySerial.count(known.serial) == 0 && StillAttached(known, listed)) {
            if (!known.unreadable) {
                known.unreadable = true;
                changes.unreadable.push_back(known.serial);
            }
            kept.push_back(known.serial);
            continue;
        }
        known.present = false;
        known.stateKnown = false;
        known.unreadable = false;
        changes.unplugged.push_back(known.serial);
    }
    KeepPlaces(registry->bridged, kept, &bridged);
    for (const std::string &problem : problems) {
        if (!Contains(registry->problems, problem)) {
            changes.newProblems.push_back(problem);
        }
    }
    changes.bridgedChanged = bridged != registry->bridged;
    registry->bridged = bridged;
    registry->problems = problems;
    return changes;
}
