// rxb540_open*, the reports and rxb540_close: one open board with the path
// and serial number it was found with.
#include <cstdlib>
#include <cstring>

#include "board/discovery.h"
#include "board/feature_report.h"
#include "library/library_internal.h"
#include "rxb540.h"

static_assert(RXB540_SERIAL_BUFFER == SERIAL_TEXT_BYTES, "init's text fits the caller's buffer");

struct rxb540_board {
    HidHandle handle;
    char *path;
    char serial[NARROW_STRING_BYTES];
    char attachment[INTERFACE_ATTACHMENT_BYTES];
};

namespace {

// The longest serial number rxb540_write_serial takes: as long as init's.
constexpr std::size_t MAX_WRITTEN_SERIAL = RXB540_SERIAL_BUFFER - 1;

struct Opening {
    SerialSelector selector;  // null: the board at the search's path
    rxb540_board *board;
    bool outOfMemory;
    char attachment[INTERFACE_ATTACHMENT_BYTES];  // the last noted board's, for its visit
};

bool NoteAttachment(void *context, const char *, const char *attachment, bool readable) {
    Opening *opening = static_cast<Opening *>(context);
    if (readable) {
        CopyBounded(opening->attachment, sizeof opening->attachment, attachment);
    }
    return true;
}

// Selects the board the opening asks for and keeps its path and serial number.
BoardChoice KeepSelectedBoard(void *context, const char *path, const char *serial) {
    Opening *opening = static_cast<Opening *>(context);
    if (opening->selector != nullptr && !SerialSelects(opening->selector, serial)) {
        return BoardChoice::PASS_OVER;
    }
    opening->board->path = CopyText(path);
    if (opening->board->path == nullptr) {
        opening->outOfMemory = true;
        return BoardChoice::STOP;
    }
    CopyBounded(opening->board->serial, sizeof opening->board->serial, serial);
    CopyBounded(opening->board->attachment, sizeof opening->board->attachment, opening->attachment);
    return BoardChoice::SELECT;
}

// One pass for rxb540_open (a selector) or rxb540_open_path (a path).
int OpenBoard(SerialSelector selector, const char *path, rxb540_board **board) {
    if (board == nullptr) {
        return RXB540_ERROR_INVALID_ARGUMENT;
    }
    *board = nullptr;
    if (selector == nullptr && path == nullptr) {
        return RXB540_ERROR_INVALID_ARGUMENT;
    }
    rxb540_board *opened = static_cast<rxb540_board *>(std::calloc(1, sizeof(rxb540_board)));
    if (opened == nullptr) {
        return RXB540_ERROR_NO_MEMORY;
    }
    Opening opening = {selector, opened, false, ""};
    BoardSearch search = {path, KeepSelectedBoard, &opening};
    search.note = NoteAttachment;
    LockPlatform();
    const DeviceResult result = SearchRelayBoards(&opened->handle, search);
    const SystemReason reason = SaveSystemReason();
    UnlockPlatform();
    if (result != DEVICE_OK) {
        std::free(opened->path);
        std::free(opened);
        RestoreSystemReason(reason);
        return opening.outOfMemory ? RXB540_ERROR_NO_MEMORY : LibraryResult(result);
    }
    *board = opened;
    return RXB540_OK;
}

int Send(rxb540_board *board, const FeatureReport &report) {
    LockPlatform();
    const DeviceResult result = SendFeatureReport(board->handle, report);
    UnlockPlatform();
    return LibraryResult(result);
}

bool IsSerialCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// The keyword ANY is refused too: a board carrying it could never be chosen by
// its serial number, since the keyword selects the first board.
bool IsAllowedSerial(const char *serial) {
    if (std::strcmp(serial, SERIAL_KEYWORD_ANY) == 0) {
        return false;
    }
    std::size_t length = 0;
    for (; serial[length] != '\0'; ++length) {
        if (length == MAX_WRITTEN_SERIAL || !IsSerialCharacter(serial[length])) {
            return false;
        }
    }
    return length > 0;
}

// Sends a set-serial report with text and, when the board took it, keeps the text.
int StoreSerial(rxb540_board *board, const char *text) {
    FeatureReport report;
    BuildSetSerialReport(&report, text);
    const int result = Send(board, report);
    if (result == RXB540_OK) {
        CopyBounded(board->serial, sizeof board->serial, text);
    }
    return result;
}

}  // namespace

extern "C" {

int rxb540_open(const char *selector, rxb540_board **board) {
    return OpenBoard(selector, nullptr, board);
}

int rxb540_open_path(const char *path, rxb540_board **board) {
    return OpenBoard(nullptr, path, board);
}

const char *rxb540_board_serial(const rxb540_board *board) {
    return board == nullptr ? nullptr : board->serial;
}

const char *rxb540_board_path(const rxb540_board *board) {
    return board == nullptr ? nullptr : board->path;
}

const char *rxb540_board_attachment(const rxb540_board *board) {
    return board == nullptr ? nullptr : board->attachment;
}

int rxb540_set_state(rxb540_board *board, unsigned char state) {
    if (board == nullptr) {
        return RXB540_ERROR_INVALID_ARGUMENT;
    }
    FeatureReport report;
    BuildSetStateReport(&report, state);
    return Send(board, report);
}

int rxb540_write_serial(rxb540_board *board, const char *serial) {
    if (board == nullptr || serial == nullptr || !IsAllowedSerial(serial)) {
        return RXB540_ERROR_INVALID_ARGUMENT;
    }
    return StoreSerial(board, serial);
}

int rxb540_init_serial(rxb540_board *board, char serial[RXB540_SERIAL_BUFFER]) {
    if (board == nullptr || serial == nullptr) {
        return RXB540_ERROR_INVALID_ARGUMENT;
    }
    char text[SERIAL_TEXT_BYTES];
    MakeSerialText(text, CurrentCalendarTime());
    const int result = StoreSerial(board, text);
    if (result == RXB540_OK) {
        std::memcpy(serial, text, sizeof text);
    }
    return result;
}

void rxb540_close(rxb540_board *board) {
    if (board == nullptr) {
        return;
    }
    LockPlatform();
    CloseHandle(board->handle);
    UnlockPlatform();
    std::free(board->path);
    std::free(board);
}

}  // extern "C"
