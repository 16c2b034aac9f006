// The boards through librxb540: listing them, and writing a state to the
// board that the bridge knows by serial and path.
#ifndef RXB540_MQTT_BOARD_IO_H
#define RXB540_MQTT_BOARD_IO_H

#include <string>
#include <vector>

#include "mqtt/board_registry.h"

// The attached boards in enumeration order, then the interfaces with the
// board's IDs that could not be read (readable false); an rxb540 result code.
int ListAttachedBoards(std::vector<ListedBoard> *boards);

// Sends one set-state report to the board at board.path, but only when the
// board there still has board.serial and board.attachment: a board swapped
// for another, or plugged in again, between two scans is never switched as if
// it were the one that the bridge knew. Returns an rxb540 result code;
// on failure, reason says what went wrong.
int WriteBoardState(const KnownBoard &board, unsigned char state, std::string *reason);

#endif  // RXB540_MQTT_BOARD_IO_H
