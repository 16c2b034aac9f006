// Starts several commands in turn, many times over, and prints the median wall
// time of each. The commands are interleaved (one run of each, then the next
// round), so that a slow spell of a shared machine weighs on all of them alike
// and their ratio stays fair. Every command is started the same way: with
// posix_spawn, standard input, output and error on /dev/null, the environment
// of this program.
//
// usage: rxb540-spawn-timer ROUNDS COMMAND [:: COMMAND ...]
// A COMMAND is its argument vector, optionally preceded by options:
//   @status=N        the exit status the command must end with (default 0)
//   @fresh=SRC,DST   copy SRC over DST before each run, outside the timing
// Output, one line per command, in the order given:
//   <median ns> <fastest ns> <slowest ns>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Command {
    std::vector<char *> argv;  // ends with a null pointer
    int expectedStatus = 0;
    std::string freshSource;
    std::string freshTarget;
    std::vector<std::int64_t> samples;
};

std::int64_t NowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool CopyFile(const std::string &source, const std::string &target) {
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    const std::string temporary = target + ".copy";
    const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = out >= 0;
    char chunk[65536];
    ssize_t got = 0;
    while (ok && (got = read(in, chunk, sizeof chunk)) > 0) {
        ok = write(out, chunk, static_cast<std::size_t>(got)) == got;
    }
    ok = ok && got == 0;
    close(in);
    if (out >= 0) {
        ok = close(out) == 0 && ok;
    }
    return ok && rename(temporary.c_str(), target.c_str()) == 0;
}

bool ParseOption(const char *word, Command *command) {
    if (std::strncmp(word, "@status=", 8) == 0) {
        command->expectedStatus = std::atoi(word + 8);
        return true;
    }
    if (std::strncmp(word, "@fresh=", 7) == 0) {
        const char *comma = std::strchr(word + 7, ',');
        if (comma == nullptr) {
            return false;
        }
        command->freshSource.assign(word + 7, comma);
        command->freshTarget.assign(comma + 1);
        return true;
    }
    return false;
}

bool ParseCommands(int argc, char **argv, std::vector<Command> *commands) {
    commands->emplace_back();
    for (int i = 0; i < argc; ++i) {
        Command &current = commands->back();
        if (std::strcmp(argv[i], "::") == 0) {
            commands->emplace_back();
        } else if (argv[i][0] == '@' && current.argv.empty()) {
            if (!ParseOption(argv[i], &current)) {
                std::fprintf(stderr, "unknown option %s\n", argv[i]);
                return false;
            }
        } else {
            current.argv.push_back(argv[i]);
        }
    }
    for (Command &command : *commands) {
        if (command.argv.empty()) {
            std::fprintf(stderr, "a command without a program\n");
            return false;
        }
        command.argv.push_back(nullptr);
    }
    return true;
}

// One timed run; false when the command could not be started or ended with
// another status than expected.
bool RunOnce(Command *command, const posix_spawn_file_actions_t *quiet) {
    if (!command->freshSource.empty() && !CopyFile(command->freshSource, command->freshTarget)) {
        std::fprintf(stderr, "cannot copy %s to %s\n", command->freshSource.c_str(),
                     command->freshTarget.c_str());
        return false;
    }
    const std::int64_t start = NowNs();
    pid_t pid = 0;
    if (posix_spawn(&pid, command->argv[0], quiet, nullptr, command->argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", command->argv[0]);
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    command->samples.push_back(NowNs() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != command->expectedStatus) {
        std::fprintf(stderr, "%s ended with status %d, expected %d\n", command->argv[0],
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1, command->expectedStatus);
        return false;
    }
    return true;
}

std::int64_t Median(std::vector<std::int64_t> samples) {
    std::sort(samples.begin(), samples.end());
    const std::size_t middle = samples.size() / 2;
    return samples.size() % 2 == 1 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: %s ROUNDS COMMAND [:: COMMAND ...]\n", argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    std::vector<Command> commands;
    if (!ParseCommands(argc - 2, argv + 2, &commands)) {
        return 2;
    }
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    // One untimed round first: it brings the programs and their libraries into
    // the page cache.
    for (int round = -1; round < rounds; ++round) {
        for (Command &command : commands) {
            if (!RunOnce(&command, &quiet)) {
                return 1;
            }
            if (round < 0) {
                command.samples.clear();
            }
        }
    }
    posix_spawn_file_actions_destroy(&quiet);
    for (const Command &command : commands) {
        const auto fastest = std::min_element(command.samples.begin(), command.samples.end());
        const auto slowest = std::max_element(command.samples.begin(), command.samples.end());
        std::printf("%lld %lld %lld\n", static_cast<long long>(Median(command.samples)),
                    static_cast<long long>(*fastest), static_cast<long long>(*slowest));
    }
    return 0;
}
