#include "support/run_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

namespace {

// No program under test needs more than a few seconds, even under valgrind on
// a loaded machine; one that runs longer has hung.
constexpr std::chrono::seconds TIME_LIMIT(60);

// The words of RXB540_TEST_WRAPPER, split at white space: a command that the
// program is run under (valgrind, for one). Empty when the variable is unset.
std::vector<std::string> WrapperWords() {
    std::vector<std::string> words;
    const char *wrapper = std::getenv("RXB540_TEST_WRAPPER");
    std::istringstream stream(wrapper == nullptr ? "" : wrapper);
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

[[noreturn]] void RunChild(const std::vector<std::string> &argv,
                           const std::vector<std::pair<std::string, std::string>> &env,
                           const std::string &stdoutFile, int outFd, int errFd) {
    // Its own process group, so that a hung run can be ended with everything
    // it started (a wrapper's children, say).
    setpgid(0, 0);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    if (!stdoutFile.empty()) {
        const int fileFd = open(stdoutFile.c_str(), O_WRONLY | O_CLOEXEC);
        if (fileFd < 0 || dup2(fileFd, STDOUT_FILENO) < 0) {
            _exit(127);
        }
        close(fileFd);
    }
    // The program gets its standard streams and nothing else of this process:
    // no pipe end, no file that a test or the test runner has open. A
    // descriptor it still holds at exit is then one it opened itself.
    closefrom(STDERR_FILENO + 1);
    unsetenv("RXB540_SIM_HOST");
    unsetenv("RXB540_SIM_LOG");
    for (const auto &variable : env) {
        setenv(variable.first.c_str(), variable.second.c_str(), 1);
    }
    std::vector<std::string> command = WrapperWords();
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char *> args;
    args.reserve(command.size() + 1);
    // execvp takes char *; data() of a string that is not const gives one.
    // cppcheck-suppress constVariableReference
    for (std::string &arg : command) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

// Reads both pipes until both are closed, so that neither can fill up, or
// until the time limit is reached. Returns false when the limit was reached;
// both pipes are closed either way.
bool Drain(int outFd, int errFd, std::string *out, std::string *err) {
    const auto deadline = std::chrono::steady_clock::now() + TIME_LIMIT;
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string *sinks[2] = {out, err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int ready = left.count() > 0 ? poll(fds, 2, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            for (const pollfd &fd : fds) {
                if (fd.fd >= 0) {
                    close(fd.fd);
                }
            }
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string> &argv,
                         const std::vector<std::pair<std::string, std::string>> &env,
                         const std::string &stdoutFile) {
    ProcessResult result = {"", "", -1};
    int outPipe[2];
    int errPipe[2];
    // Close-on-exec, so that no other program started meanwhile inherits them.
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return result;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        RunChild(argv, env, stdoutFile, outPipe[1], errPipe[1]);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (child < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    if (!Drain(outPipe[0], errPipe[0], &result.out, &result.err)) {
        kill(-child, SIGKILL);
        ADD_FAILURE() << argv[0] << " was killed: it did not end within " << TIME_LIMIT.count() << " s";
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
