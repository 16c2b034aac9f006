#include "support/run_process.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

[[noreturn]] void RunChild(const std::vector<std::string> &argv,
                           const std::vector<std::pair<std::string, std::string>> &env, int outFd,
                           int errFd) {
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    unsetenv("RXB540_SIM_HOST");
    unsetenv("RXB540_SIM_LOG");
    for (const auto &variable : env) {
        setenv(variable.first.c_str(), variable.second.c_str(), 1);
    }
    std::vector<char *> args;
    for (const std::string &arg : argv) {
        args.push_back(const_cast<char *>(arg.c_str()));
    }
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Reads both pipes until both are closed, so that neither can fill up.
void Drain(int outFd, int errFd, std::string *out, std::string *err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string *sinks[2] = {out, err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            return;
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
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string> &argv,
                         const std::vector<std::pair<std::string, std::string>> &env) {
    ProcessResult result = {"", "", -1};
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0) {
        return result;
    }
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        RunChild(argv, env, outPipe[1], errPipe[1]);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (child < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    Drain(outPipe[0], errPipe[0], &result.out, &result.err);
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
