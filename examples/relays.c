/* relays.c: lists the RXB540 boards, or sets the relays of one.
 *   relays                 prints "PATH SERIAL" for every board
 *   relays SERIAL STATE    sends STATE (0-255) to the board SERIAL, or ANY */
#include <stdio.h>
#include <stdlib.h>

#include <rxb540.h>

static int list_boards(void) {
    rxb540_list *list = NULL;
    size_t i;
    int result = rxb540_list_boards(&list);
    if (result != RXB540_OK) {
        fprintf(stderr, "cannot list the boards: %s\n", rxb540_strerror(result));
        return 1;
    }
    for (i = 0; i < rxb540_list_count(list); i++) {
        printf("%s %s\n", rxb540_list_path(list, i), rxb540_list_serial(list, i));
    }
    rxb540_list_free(list);
    return 0;
}

static int set_relays(const char *serial, const char *state) {
    rxb540_board *board = NULL;
    int result = rxb540_open(serial, &board);
    if (result != RXB540_OK) {
        fprintf(stderr, "cannot open %s: %s\n", serial, rxb540_strerror(result));
        return 1;
    }
    result = rxb540_set_state(board, (unsigned char)atoi(state));
    if (result != RXB540_OK) {
        fprintf(stderr, "board %s at %s: %s\n", rxb540_board_serial(board), rxb540_board_path(board),
                rxb540_strerror(result));
    }
    rxb540_close(board);
    return result == RXB540_OK ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc == 1) {
        return list_boards();
    }
    if (argc == 3) {
        return set_relays(argv[1], argv[2]);
    }
    fprintf(stderr, "usage: %s [SERIAL STATE]\n", argv[0]);
    return 2;
}
