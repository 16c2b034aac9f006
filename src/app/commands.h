// The command line: the command table, the usage text and the commands.
#ifndef RXB540_APP_COMMANDS_H
#define RXB540_APP_COMMANDS_H

#include <cstddef>

// A command's action: gets the whole argument vector, reports its own
// failures on standard error and returns the exit status: 0 when it did its
// work, 1 when it could not.
typedef int (*CommandAction)(int argc, char **argv);

struct CommandRow {
    const char *word;
    CommandAction action;
};

// Tried in order; a word matches only the whole first argument, byte for byte.
extern const CommandRow COMMAND_TABLE[];
extern const std::size_t COMMAND_TABLE_ROWS;

// The entry point's work: picks the command by argv[1], runs it and returns
// the exit status. A missing or unknown command prints the usage text and
// returns 1. When the command's standard output could not be written, prints
// "error writing output" to standard error and returns 1.
int RunCommandLine(int argc, char **argv);

void PrintUsage(const char *programName);

int ListSerials();
int SetState(int argc, char **argv);
int InitSerial(int argc, char **argv);

// The state argument as atoi reads it (leading white space, a sign, digits up
// to the first other character, 0 without digits), except that a value beyond
// the 32-bit range saturates at the nearest limit instead of being undefined.
int ConvertStateNumber(const char *text);

#endif  // RXB540_APP_COMMANDS_H
