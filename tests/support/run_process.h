// Runs a program as a child process and captures what it prints.
#ifndef RXB540_TESTS_SUPPORT_RUN_PROCESS_H
#define RXB540_TESTS_SUPPORT_RUN_PROCESS_H

#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
    std::string out;
    std::string err;
    int status;  // the exit status, or 128 + the signal that ended the child
};

// Runs argv[0] (a path) with the arguments argv[1...]. The child inherits this
// process's environment without the simulated host's variables, then gets
// the variables in env.
ProcessResult RunProcess(const std::vector<std::string> &argv,
                         const std::vector<std::pair<std::string, std::string>> &env);

#endif  // RXB540_TESTS_SUPPORT_RUN_PROCESS_H
