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
        pathsBySerial[board.serial].push_back(board.path);
    }
    std::vector<std::string> problems;
    std::vector<ListedBoard> bridgeable;
    for (const ListedBoard &board : listed) {
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
            registry->boards.push_back(KnownBoard{board.serial, board.path, true, false, 0});
            changes.plugged.push_back(board.serial);
        } else if (!known->present || known->path != board.path) {
            *known = KnownBoard{board.serial, board.path, true, false, 0};
            changes.plugged.push_back(board.serial);
        }
    }
    for (KnownBoard &known : registry->boards) {
        if (known.present && !Contains(bridged, known.serial)) {
            known.present = false;
            known.stateKnown = false;
            changes.unplugged.push_back(known.serial);
        }
    }
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
