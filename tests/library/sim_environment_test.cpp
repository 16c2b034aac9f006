// librxb540 built on the simulated host that follows RXB540_SIM_HOST and
// RXB540_SIM_LOG at each device list: a missing or broken host file is a
// platform error with its reason in errno, one process switches host files,
// and boards are used from several threads at once.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "board/device_identity.h"
#include "rxb540.h"
#include "sim_host.h"
#include "support/sim_host_text.h"
#include "support/temp_dir.h"

namespace {

std::string Board(const std::string &serial, const std::string &more = "") {
    return BoardLine(RELAY_MANUFACTURER, serial, more);
}

class SimEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeTempDir();
        logPath = dir + "/log";
        setenv("RXB540_SIM_LOG", logPath.c_str(), 1);
    }
    void TearDown() override {
        EXPECT_EQ(SimHostOpenHandleCount(), 0) << "a handle was left open";
        unsetenv("RXB540_SIM_HOST");
        unsetenv("RXB540_SIM_LOG");
        SimHostSetLog(nullptr);
        RemoveTree(dir);
    }

    // Writes a host file and names it in the environment.
    std::string UseHost(const std::string &name, const std::string &text) {
        std::string path = dir + "/" + name;
        WriteTextFile(path, text);
        setenv("RXB540_SIM_HOST", path.c_str(), 1);
        return path;
    }

    // The serial numbers that a list shows, one a line.
    static std::string Listed() {
        rxb540_list *list = nullptr;
        const int result = rxb540_list_boards(&list);
        if (result != RXB540_OK) {
            return rxb540_strerror(result);
        }
        std::string serials;
        for (std::size_t i = 0; i < rxb540_list_count(list); ++i) {
            serials += std::string(rxb540_list_serial(list, i)) + "\n";
        }
        rxb540_list_free(list);
        return serials;
    }

    std::string dir;
    std::string logPath;
};

}  // namespace

TEST_F(SimEnvironment, AMissingOrBrokenHostIsAPlatformErrorWithItsReason) {
    const struct {
        const char *name;
        const char *text;  // null: no such file
        int error;
    } cases[] = {
        {"", nullptr, ENOENT},
        {"absent.host", nullptr, ENOENT},
        {"broken.host", "vid=1 colour=red\n", EINVAL},
    };
    for (const auto &c : cases) {
        if (c.name[0] == '\0') {
            unsetenv("RXB540_SIM_HOST");
        } else if (c.text == nullptr) {
            setenv("RXB540_SIM_HOST", (dir + "/" + c.name).c_str(), 1);
        } else {
            UseHost(c.name, c.text);
        }
        rxb540_list *list = nullptr;
        errno = 0;
        EXPECT_EQ(rxb540_list_boards(&list), RXB540_ERROR_PLATFORM) << c.name;
        EXPECT_EQ(errno, c.error) << c.name;
        EXPECT_EQ(list, nullptr);
        rxb540_board *board = nullptr;
        errno = 0;
        EXPECT_EQ(rxb540_open("ANY", &board), RXB540_ERROR_PLATFORM) << c.name;
        EXPECT_EQ(errno, c.error) << c.name;
        EXPECT_EQ(board, nullptr);
    }
    // A host file named again is read again.
    UseHost("good.host", Board("1"));
    EXPECT_EQ(Listed(), "1\n");
}

TEST_F(SimEnvironment, EachListReadsTheHostFileAndTheLogNamedNow) {
    const std::string first = UseHost("first.host", Board("A") + Board("B"));
    EXPECT_EQ(Listed(), "A\nB\n");
    rxb540_board *board = nullptr;
    ASSERT_EQ(rxb540_open("B", &board), RXB540_OK);

    // Another host file and log while the board stays open and usable.
    UseHost("second.host", Board("C"));
    const std::string secondLog = dir + "/second.log";
    setenv("RXB540_SIM_LOG", secondLog.c_str(), 1);
    EXPECT_EQ(Listed(), "C\n");
    EXPECT_EQ(ReadTextFile(secondLog), "enumerate\nopen 0\nclose 0\n");

    // Back to the first file: the open board takes its report there.
    setenv("RXB540_SIM_HOST", first.c_str(), 1);
    EXPECT_EQ(Listed(), "A\nB\n");
    EXPECT_EQ(rxb540_set_state(board, 7), RXB540_OK);
    rxb540_close(board);
    EXPECT_EQ(ReadTextFile(first), Board("A") + Board("B", "state=7"));
    EXPECT_EQ(ReadTextFile(logPath),
              "enumerate\nopen 0\nclose 0\nopen 1\nclose 1\n"
              "enumerate\nopen 0\nclose 0\nopen 1\n");
}

TEST_F(SimEnvironment, ABoardWhoseInterfaceIsGoneFailsButCloses) {
    UseHost("two.host", Board("A") + Board("B"));
    rxb540_board *board = nullptr;
    ASSERT_EQ(rxb540_open("B", &board), RXB540_OK);
    UseHost("one.host", Board("A"));
    EXPECT_EQ(Listed(), "A\n");
    EXPECT_EQ(rxb540_set_state(board, 1), RXB540_ERROR_COMMUNICATION);
    rxb540_close(board);
    EXPECT_EQ(ReadTextFile(logPath).find("bad-handle"), std::string::npos);
}

TEST_F(SimEnvironment, DifferentBoardsFromDifferentThreadsAtOnce) {
    const std::string host = UseHost("boards.host", Board("T0") + Board("T1") + Board("T2") + Board("T3"));
    unsetenv("RXB540_SIM_LOG");
    std::vector<std::thread> threads;
    threads.reserve(4);
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string serial = "T" + std::to_string(t);
            for (int round = 1; round <= 20; ++round) {
                rxb540_board *board = nullptr;
                if (rxb540_open(serial.c_str(), &board) != RXB540_OK ||
                    rxb540_set_state(board, static_cast<unsigned char>(round)) != RXB540_OK) {
                    ++failures[static_cast<std::size_t>(t)];
                }
                rxb540_close(board);
                rxb540_list_free(nullptr);
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    EXPECT_EQ(ReadTextFile(host), Board("T0", "state=20") + Board("T1", "state=20") +
                                      Board("T2", "state=20") + Board("T3", "state=20"));
}
