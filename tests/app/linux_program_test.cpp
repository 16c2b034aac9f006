// The Linux program on this host's own /sys and /dev. The expected output
// holds on a host without an RXB540 board; a host with any hidraw node at all
// skips these tests, since what the program prints there depends on what is
// plugged in.
#include <gtest/gtest.h>

#include <dirent.h>

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

// The run's exit status, standard output and standard error in one text.
std::string Outcome(std::vector<std::string> args) {
    args.insert(args.begin(), PROGRAM);
    const ProcessResult result = RunProcess(args, {});
    return "status " + std::to_string(result.status) + "\nout: " + result.out + "\nerr: " + result.err;
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
