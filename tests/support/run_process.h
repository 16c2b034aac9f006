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
// the variables in env. When RXB540_TEST_WRAPPER is set, its words come
// before argv, so that the program runs under that command (a memory checker,
// say); the program still sees argv[0] as its name. With stdoutFile, the
// program's standard output goes to that file instead (and out stays empty).
// A program that runs longer than a minute is killed (status 128 + 9), and
// the current test fails with a message that names it.
ProcessResult RunProcess(const std::vector<std::string> &argv,
                         const std::vector<std::pair<std::string, std::string>> &env,
                         const std::string &stdoutFile = "");

#endif  // RXB540_TESTS_SUPPORT_RUN_PROCESS_H
