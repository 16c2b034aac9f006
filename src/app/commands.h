// The command line: the command table, the usage text and the commands.
#ifndef RXB540_APP_COMMANDS_H
#define RXB540_APP_COMMANDS_H

#include <cstddef>

// A command's action: gets the whole argument vector, returns the exit status
// of its normal end. Failures that end the process at once do so through
// EndProcess.
typedef int (*CommandAction)(int argc, char **argv);

struct CommandRow {
    const char *word;
    CommandAction action;
};

// Tried in order; a word matches only the whole first argument, byte for byte.
extern const CommandRow COMMAND_TABLE[];
extern const std::size_t COMMAND_TABLE_ROWS;

// The entry point's work: picks the command by argv[1] and runs it. A missing
// or unknown command prints the usage text and ends the process with status 1.
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
