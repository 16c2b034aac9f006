/* A C program on rxb540.dll, as a user of the DLL writes one: lists the
 * boards with their serial numbers, then opens the board with the serial
 * number given by its interface path from the list and sets its relays.
 *   rxb540_dll_client                 lists: "SERIAL" per board
 *   rxb540_dll_client SERIAL STATE    lists, then "set SERIAL STATE: TEXT"
 * Ends with 0 when every call succeeded, 1 otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rxb540.h"

int main(int argc, char **argv) {
    rxb540_list *list = NULL;
    rxb540_board *board = NULL;
    const char *path = NULL;
    size_t i;
    int result = rxb540_list_boards(&list);
    if (result != RXB540_OK) {
        printf("list: %s\n", rxb540_strerror(result));
        return 1;
    }
    for (i = 0; i < rxb540_list_count(list); i++) {
        printf("%s\n", rxb540_list_serial(list, i));
        if (argc == 3 && path == NULL && strcmp(rxb540_list_serial(list, i), argv[1]) == 0) {
            path = rxb540_list_path(list, i);
        }
    }
    if (argc != 3) {
        rxb540_list_free(list);
        return 0;
    }
    result = path == NULL ? RXB540_ERROR_NOT_FOUND : rxb540_open_path(path, &board);
    if (result == RXB540_OK) {
        result = strcmp(rxb540_board_serial(board), argv[1]) == 0 ? RXB540_OK : RXB540_ERROR_COMMUNICATION;
    }
    if (result == RXB540_OK) {
        result = rxb540_set_state(board, (unsigned char)atoi(argv[2]));
    }
    printf("set %s %s: %s\n", argv[1], argv[2], rxb540_strerror(result));
    rxb540_close(board);
    rxb540_list_free(list);
    return result == RXB540_OK ? 0 : 1;
}
