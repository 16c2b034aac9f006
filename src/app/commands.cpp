#include "app/commands.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/output.h"
#include "rxb540.h"

namespace {

// The selector of the first board found.
constexpr const char *SERIAL_KEYWORD_ANY = "ANY";

// Used for the usage text when the runtime hands over no program name at all.
constexpr const char *FALLBACK_PROGRAM_NAME = "rxb540";

int RunListSerials(int, char **) {
    return ListSerials();
}

// A command line that names no usable command fails after the usage text.
int FailWithUsage(const char *programName) {
    PrintUsage(programName);
    return 1;
}

// Output that could not be written makes a normal end a failure: a script
// that reads the listing or the new serial number must not take a lost or cut
// result for success.
int StatusAfterOutput(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "error writing output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}

bool IsAtoiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

const CommandRow COMMAND_TABLE[] = {
    {"list", RunListSerials},
    {"set", SetState},
    {"init", InitSerial},
};
const std::size_t COMMAND_TABLE_ROWS = sizeof COMMAND_TABLE / sizeof COMMAND_TABLE[0];

int RunCommandLine(int argc, char **argv) {
    const char *programName = (argc > 0 && argv[0] != nullptr) ? argv[0] : FALLBACK_PROGRAM_NAME;
    if (argc < 2) {
        return FailWithUsage(programName);
    }
    for (std::size_t row = 0; row < COMMAND_TABLE_ROWS; ++row) {
        if (std::strcmp(argv[1], COMMAND_TABLE[row].word) == 0) {
            return StatusAfterOutput(COMMAND_TABLE[row].action(argc, argv));
        }
    }
    return FailWithUsage(programName);
}

void PrintUsage(const char *programName) {
    std::fprintf(stderr, "RXB540 host controller Version 0.0.1\n");
    std::fprintf(stderr, "Copyright (c) 2026 The rxb540 developers. MIT License, no warranty.\n");
    std::fprintf(stderr, "usage:\n");
    std::fprintf(stderr, "  %s list ... List all serial number of detected RXB540(s).\n", programName);
    std::fprintf(stderr, "  %s set <SerialNumber|\"ANY\"> <StateNumber> ... Set state of relays.\n",
                 programName);
}

// A listing that could not look at the host's devices is a failure: an
// empty listing must mean that no board is attached.
int ListSerials() {
    rxb540_list *list = nullptr;
    const int result = rxb540_list_boards(&list);
    if (result != RXB540_OK) {
        std::fprintf(stderr, "error listing devices: %s\n", ResultReason(result));
        return 1;
    }
    for (std::size_t i = 0; i < rxb540_list_count(list); ++i) {
        PrintListedSerial(rxb540_list_serial(list, i));
    }
    rxb540_list_free(list);
    return 0;
}

int ConvertStateNumber(const char *text) {
    const char *p = text;
    while (IsAtoiSpace(*p)) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    // Accumulated as a magnitude, which stops growing once it is past the range.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude < limit) {
            magnitude = magnitude * 10 + (*p - '0');
        }
    }
    if (magnitude > limit) {
        magnitude = limit;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int SetState(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "Invalid arguments.\n");
        return FailWithUsage(argv[0]);
    }
    rxb540_board *board = nullptr;
    const int opened = rxb540_open(argv[2], &board);
    if (opened != RXB540_OK) {
        std::fprintf(stderr, "error finding %s: %s\n", argv[2], ResultReason(opened));
        return 1;
    }
    // The low 8 bits of the number are sent; conversion to unsigned is modular.
    const unsigned int state = static_cast<unsigned int>(ConvertStateNumber(argv[3]));
    const int result = rxb540_set_state(board, static_cast<unsigned char>(state & 0xFFu));
    rxb540_close(board);
    if (result != RXB540_OK) {
        std::fprintf(stderr, "error writing data: %s\n", rxb540_strerror(result));
        return 1;
    }
    return 0;
}

int InitSerial(int, char **) {
    rxb540_board *board = nullptr;
    const int opened = rxb540_open(SERIAL_KEYWORD_ANY, &board);
    if (opened != RXB540_OK) {
        std::fprintf(stderr, "error finding %s: %s\n", SERIAL_KEYWORD_ANY, ResultReason(opened));
        return 1;
    }
    char serial[RXB540_SERIAL_BUFFER];
    const int result = rxb540_init_serial(board, serial);
    rxb540_close(board);
    if (result != RXB540_OK) {
        std::fprintf(stderr, "error init serial: %s\n", rxb540_strerror(result));
        return 1;
    }
    std::printf("Set serial number to %s\n", serial);
    return 0;
}
