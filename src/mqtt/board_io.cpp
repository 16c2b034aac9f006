#include "mqtt/board_io.h"

#include <cstring>

#include "mqtt/payloads.h"
#include "rxb540.h"

namespace {

std::string TextOrEmpty(const char *text) {
    return text != nullptr ? text : "";
}

}  // namespace

int ListAttachedBoards(std::vector<ListedBoard> *boards) {
    rxb540_list *list = nullptr;
    int result = rxb540_list_boards(&list);
    if (result != RXB540_OK) {
        return result;
    }
    boards->clear();
    std::size_t count = rxb540_list_count(list);
    for (std::size_t i = 0; i < count; ++i) {
        boards->push_back(ListedBoard{TextOrEmpty(rxb540_list_serial(list, i)),
                                      TextOrEmpty(rxb540_list_path(list, i)),
                                      TextOrEmpty(rxb540_list_attachment(list, i)), true});
    }
    count = rxb540_list_unreadable_count(list);
    for (std::size_t i = 0; i < count; ++i) {
        boards->push_back(ListedBoard{"", TextOrEmpty(rxb540_list_unreadable_path(list, i)),
                                      TextOrEmpty(rxb540_list_unreadable_attachment(list, i)), false});
    }
    rxb540_list_free(list);
    return RXB540_OK;
}

int WriteBoardState(const KnownBoard &board, unsigned char state, std::string *reason) {
    rxb540_board *open = nullptr;
    int result = rxb540_open_path(board.path.c_str(), &open);
    if (result != RXB540_OK) {
        *reason = "cannot open the board at " + board.path + ": " + rxb540_strerror(result);
        return result;
    }
    const std::string serial = TextOrEmpty(rxb540_board_serial(open));
    const std::string attachment = TextOrEmpty(rxb540_board_attachment(open));
    if (board.serial != serial) {
        *reason = "the board at " + board.path + " now has the serial number " + JsonString(serial) +
                  "; nothing was sent";
        rxb540_close(open);
        return RXB540_ERROR_NOT_FOUND;
    }
    // Plugged in again since the last scan: its relays are off, whatever the
    // bridge knew; the next scan takes it as newly plugged.
    if (!board.attachment.empty() && !attachment.empty() && board.attachment != attachment) {
        *reason =
            "the board at " + board.path + " was plugged in again since the last scan; nothing was sent";
        rxb540_close(open);
        return RXB540_ERROR_NOT_FOUND;
    }
    result = rxb540_set_state(open, state);
    if (result != RXB540_OK) {
        *reason = std::string("the board refused the report: ") + rxb540_strerror(result);
    }
    rxb540_close(open);
    return result;
}
