// rxb540_list_*: a snapshot of the attached boards with their paths and
// attachments, and of the interfaces with the board's IDs that could not be
// read.
#include <cstdlib>

#include "board/discovery.h"
#include "library/library_internal.h"
#include "rxb540.h"

struct ListedInterface {
    char *serial;  // null for an interface that could not be read
    char *path;
    char *attachment;
};

struct InterfaceArray {
    ListedInterface *items;
    std::size_t count;
    std::size_t capacity;
};

struct rxb540_list {
    InterfaceArray boards;
    InterfaceArray unreadable;
};

namespace {

void FreeInterface(const ListedInterface &item) {
    std::free(item.serial);
    std::free(item.path);
    std::free(item.attachment);
}

// Appends an interface, taking its copies; false (the caller keeps them)
// when memory runs out.
bool Append(InterfaceArray *array, const ListedInterface &item) {
    if (array->count == array->capacity) {
        const std::size_t capacity = array->capacity == 0 ? 4 : 2 * array->capacity;
        void *grown = std::realloc(array->items, capacity * sizeof(ListedInterface));
        if (grown == nullptr) {
            return false;
        }
        array->items = static_cast<ListedInterface *>(grown);
        array->capacity = capacity;
    }
    array->items[array->count++] = item;
    return true;
}

void FreeArray(const InterfaceArray &array) {
    for (std::size_t i = 0; i < array.count; ++i) {
        FreeInterface(array.items[i]);
    }
    std::free(array.items);
}

// One text of one entry of a list; null for a null list or past the end.
const char *Text(const rxb540_list *list, InterfaceArray rxb540_list::*array, std::size_t index,
                 char *ListedInterface::*text) {
    if (list == nullptr || index >= (list->*array).count) {
        return nullptr;
    }
    return (list->*array).items[index].*text;
}

struct Listing {
    rxb540_list *list;
    char attachment[INTERFACE_ATTACHMENT_BYTES];  // the last noted board's, for its visit
    bool outOfMemory;
};

// Keeps the attachment of a board for its visit, and every interface that
// could not be read.
bool NoteInterface(void *context, const char *path, const char *attachment, bool readable) {
    Listing *listing = static_cast<Listing *>(context);
    if (readable) {
        CopyBounded(listing->attachment, sizeof listing->attachment, attachment);
        return true;
    }
    const ListedInterface item = {nullptr, CopyText(path), CopyText(attachment)};
    if (item.path != nullptr && item.attachment != nullptr && Append(&listing->list->unreadable, item)) {
        return true;
    }
    FreeInterface(item);
    listing->outOfMemory = true;
    return false;
}

// Keeps every board and selects none; stops when memory runs out.
BoardChoice KeepBoard(void *context, const char *path, const char *serial) {
    Listing *listing = static_cast<Listing *>(context);
    const ListedInterface item = {CopyText(serial), CopyText(path), CopyText(listing->attachment)};
    if (item.serial != nullptr && item.path != nullptr && item.attachment != nullptr &&
        Append(&listing->list->boards, item)) {
        return BoardChoice::PASS_OVER;
    }
    FreeInterface(item);
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
    Listing listing = {made, "", false};
    HidHandle unused = nullptr;
    BoardSearch search = {nullptr, KeepBoard, &listing};
    search.note = NoteInterface;
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
    return list == nullptr ? 0 : list->boards.count;
}

const char *rxb540_list_serial(const rxb540_list *list, size_t index) {
    return Text(list, &rxb540_list::boards, index, &ListedInterface::serial);
}

const char *rxb540_list_path(const rxb540_list *list, size_t index) {
    return Text(list, &rxb540_list::boards, index, &ListedInterface::path);
}

const char *rxb540_list_attachment(const rxb540_list *list, size_t index) {
    return Text(list, &rxb540_list::boards, index, &ListedInterface::attachment);
}

size_t rxb540_list_unreadable_count(const rxb540_list *list) {
    return list == nullptr ? 0 : list->unreadable.count;
}

const char *rxb540_list_unreadable_path(const rxb540_list *list, size_t index) {
    return Text(list, &rxb540_list::unreadable, index, &ListedInterface::path);
}

const char *rxb540_list_unreadable_attachment(const rxb540_list *list, size_t index) {
    return Text(list, &rxb540_list::unreadable, index, &ListedInterface::attachment);
}

void rxb540_list_free(rxb540_list *list) {
    if (list == nullptr) {
        return;
    }
    FreeArray(list->boards);
    FreeArray(list->unreadable);
    std::free(list);
}

}  // extern "C"
