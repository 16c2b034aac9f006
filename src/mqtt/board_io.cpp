#include "mqtt/board_io.h"

#include <cstring>

#include "mqtt/payloads.h"
#include "rxb540.h"

int ListAttachedBoards(std::vector<ListedBoard> *boards) {
    rxb540_list *list = nullptr;
    int result = rxb540_list_boards(&list);
    if (result != RXB540_OK) {
        return result;
    }
    boards->clear();
    std::size_t count = rxb540_list_count(list);
    for (std::size_t i = 0; i < count; ++i) {
        const char *serial = rxb540_list_serial(list, i);
        const char *path = rxb540_list_path(list, i);
        boards->push_back(ListedBoard{serial != nullptr ? serial : "", path != nullptr ? path : ""});
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
    const char *serial = rxb540_board_serial(open);
    if (serial == nullptr || board.serial != serial) {
        *reason = "the board at " + board.path + " now has the serial number " +
                  JsonString(serial != nullptr ? serial : "") + "; nothing was sent";
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
