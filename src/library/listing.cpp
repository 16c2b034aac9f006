// rxb540_list_*: a snapshot of the attached boards with their paths.
#include <cstdlib>

#include "board/discovery.h"
#include "library/library_internal.h"
#include "rxb540.h"

struct ListedBoard {
    char *serial;
    char *path;
};

struct rxb540_list {
    ListedBoard *boards;
    std::size_t count;
    std::size_t capacity;
};

namespace {

bool Append(rxb540_list *list, const char *path, const char *serial) {
    if (list->count == list->capacity) {
        const std::size_t capacity = list->capacity == 0 ? 4 : 2 * list->capacity;
        void *grown = std::realloc(list->boards, capacity * sizeof(ListedBoard));
        if (grown == nullptr) {
            return false;
        }
        list->boards = static_cast<ListedBoard *>(grown);
        list->capacity = capacity;
    }
    ListedBoard board = {CopyText(serial), CopyText(path)};
    if (board.serial == nullptr || board.path == nullptr) {
        std::free(board.serial);
        std::free(board.path);
        return false;
    }
    list->boards[list->count++] = board;
    return true;
}

struct Listing {
    rxb540_list *list;
    bool outOfMemory;
};

// Keeps every board and selects none; stops when memory runs out.
BoardChoice KeepBoard(void *context, const char *path, const char *serial) {
    Listing *listing = static_cast<Listing *>(context);
    if (Append(listing->list, path, serial)) {
        return BoardChoice::PASS_OVER;
    }
    listing->outOfMemory = true;
    return BoardChoice::STOP;
}

}  // namespace

extern "C" {

int rxb540_list_boards(rxb540_list **list) {
    if (list == nullptr) {
        return RXB540_ERROR_INVALID_ARGUMENT;
    }
    *list = nullptr;
    rxb540_list *made = static_cast<rxb540_list *>(std::calloc(1, sizeof(rxb540_list)));
    if (made == nullptr) {
        return RXB540_ERROR_NO_MEMORY;
    }
    Listing listing = {made, false};
    HidHandle unused = nullptr;
    const BoardSearch search = {nullptr, KeepBoard, &listing};
    LockPlatform();
    const DeviceResult result = SearchRelayBoards(&unused, search);
    const SystemReason reason = SaveSystemReason();
    UnlockPlatform();
    if (result == DEVICE_LIST_FAILED) {
        rxb540_list_free(made);
        RestoreSystemReason(reason);
        return RXB540_ERROR_PLATFORM;
    }
    if (listing.outOfMemory) {
        rxb540_list_free(made);
        return RXB540_ERROR_NO_MEMORY;
    }
    *list = made;
    return RXB540_OK;
}

size_t rxb540_list_count(const rxb540_list *list) {
    return list == nullptr ? 0 : list->count;
}

const char *rxb540_list_serial(const rxb540_list *list, size_t index) {
    return list == nullptr || index >= list->count ? nullptr : list->boards[index].serial;
}

const char *rxb540_list_path(const rxb540_list *list, size_t index) {
    return list == nullptr || index >= list->count ? nullptr : list->boards[index].path;
}

void rxb540_list_free(rxb540_list *list) {
    if (list == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < list->count; ++i) {
        std::free(list->boards[i].serial);
        std::free(list->boards[i].path);
    }
    std::free(list->boards);
    std::free(list);
}

}  // extern "C"
