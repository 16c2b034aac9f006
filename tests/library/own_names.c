/* A program with functions of its own under names that librxb540 uses inside
 * (the POSIX stand-in for a Windows call, a helper of the board layer),
 * linked with librxb540.a: the library must neither clash with them nor call
 * them. Run on the simulated host with one board. */
#include <stdio.h>
#include <string.h>

#include <rxb540.h>

static int ownCalls = 0;

int CloseHandle(void *handle) {
    (void)handle;
    ownCalls++;
    return 1;
}

const char *CopyText(const char *text) {
    ownCalls++;
    return text;
}

int main(void) {
    rxb540_board *board = NULL;
    int result = rxb540_open("ANY", &board);
    if (result == RXB540_OK) {
        result = rxb540_set_state(board, 5);
        rxb540_close(board);
    }
    if (result != RXB540_OK) {
        fprintf(stderr, "own-names: %s\n", rxb540_strerror(result));
        return 1;
    }
    if (ownCalls != 0) {
        fprintf(stderr, "own-names: the library called the program's own functions %d times\n", ownCalls);
        return 1;
    }
    if (CloseHandle(NULL) != 1 || strcmp(CopyText("own"), "own") != 0 || ownCalls != 2) {
        fprintf(stderr, "own-names: the program's own functions were not its own\n");
        return 1;
    }
    puts("own-names: ok");
    return 0;
}
