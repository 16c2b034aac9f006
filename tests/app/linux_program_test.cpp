// The Linux program on this host's own /sys and /dev. The expected output
// holds on a host without an RXB540 board; a host with any hidraw node at all
// skips the first test, since what the program prints there depends on what
// is plugged in. The second puts a hidraw class folder of its own making in
// the program's view of /sys.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace {

const std::string PROGRAM = RXB540_PROGRAM;

bool HostHasHidrawNodes() {
    DIR *dir = opendir("/sys/class/hidraw");
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    for (const dirent *entry = readdir(dir); entry != nullptr && !found; entry = readdir(dir)) {
        found = std::string(entry->d_name).rfind("hidraw", 0) == 0;
    }
    closedir(dir);
    return found;
}

std::string OutcomeText(const ProcessResult &result) {
    return "status " + std::to_string(result.status) + "\nout: " + result.out + "\nerr: " + result.err;
}

// The run's exit status, standard output and standard error in one text.
std::string Outcome(std::vector<std::string> args) {
    args.insert(args.begin(), PROGRAM);
    return OutcomeText(RunProcess(args, {}));
}

// Runs the program in a mount namespace of its own, where a tmpfs lies over
// /sys/class and `setup` has put what it wants in place of the hidraw class
// folder. A wrapper (valgrind, say) wraps the program, not the set-up.
ProcessResult RunWithClassFolder(const std::string &setup, const std::vector<std::string> &args) {
    std::vector<std::string> command = {
        "unshare",
        "--mount",
        "--propagation",
        "private",
        "sh",
        "-c",
        "mount -t tmpfs tmpfs /sys/class && " + setup + " && exec $PROGRAM_WRAPPER \"$0\" \"$@\"",
        PROGRAM};
    command.insert(command.end(), args.begin(), args.end());
    const char *wrapper = std::getenv("RXB540_TEST_WRAPPER");
    return RunProcess(command, {{"RXB540_TEST_WRAPPER", ""}, {"PROGRAM_WRAPPER", wrapper ? wrapper : ""}});
}

}  // namespace

TEST(LinuxProgram, OnAHostWithoutBoardsListsNothingAndFindsNoBoard) {
    if (HostHasHidrawNodes()) {
        GTEST_SKIP() << "this host has hidraw nodes";
    }
    const std::string notFound = "error finding ANY: The specified device was not found\n";
    EXPECT_EQ(Outcome({"list"}), "status 0\nout: \nerr: ");
    EXPECT_EQ(Outcome({"set", "ANY", "1"}), "status 1\nout: \nerr: " + notFound);
    EXPECT_EQ(Outcome({"init"}), "status 1\nout: \nerr: " + notFound);
}

// Only a hidraw class folder that does not exist means a host without
// devices; one that cannot be read fails every command with the system's
// cause. Making the mount namespace needs root; elsewhere the test is skipped.
TEST(LinuxProgram, AHostWhoseDevicesCannotBeListedFailsWithTheCause) {
    const ProcessResult probe = RunWithClassFolder("true", {});
    if (probe.err.find("usage:") == std::string::npos) {
        GTEST_SKIP() << "cannot make a mount namespace here: " << probe.err;
    }
    const std::string notFound = "error finding ANY: The specified device was not found\n";
    const struct {
        const char *setup;
        const char *cause;  // null: the host has no devices
    } cases[] = {
        {"true", nullptr},
        {"echo > /sys/class/hidraw", "Not a directory"},
        {"ln -s hidraw /sys/class/hidraw", "Too many levels of symbolic links"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setup);
        const std::string cause = c.cause ? c.cause : "";
        EXPECT_EQ(OutcomeText(RunWithClassFolder(c.setup, {"list"})),
                  c.cause ? "status 1\nout: \nerr: error listing devices: " + cause + "\n"
                          : "status 0\nout: \nerr: ");
        for (const std::vector<std::string> &args : {std::vector<std::string>{"set", "ANY", "1"}, {"init"}}) {
            EXPECT_EQ(OutcomeText(RunWithClassFolder(c.setup, args)),
                      "status 1\nout: \nerr: " + (c.cause ? "error finding ANY: " + cause + "\n" : notFound));
        }
    }
}
