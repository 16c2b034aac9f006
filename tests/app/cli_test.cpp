// The programs as a user or a script meets them: arguments in; standard
// output, standard error and exit status out, compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/sim_host_text.h"
#include "support/temp_dir.h"

namespace {

const std::string PROGRAM = RXB540_SIM_PROGRAM;
const std::string MANUFACTURER = RXB540_TEST_MANUFACTURER;
const std::string FOREIGN = "vid=0x046d pid=0xc31c manufacturer=Logitech product=Keyboard serial=K1\n";

// The usage text from the fixture that the Windows tests read too, with the
// program's name in place of @PROGRAM@.
std::string Usage(const std::string &name) {
    const std::string placeholder = "@PROGRAM@";
    std::string text = ReadTextFile(std::string(RXB540_SOURCE_DIR) + "/tests/support/usage.txt");
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + name.size())) {
        text.replace(at, placeholder.size(), name);
    }
    return text;
}

std::string Board(const std::string &serial, const std::string &more = "") {
    return BoardLine(MANUFACTURER, serial, more);
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeTempDir();
        hostPath = dir + "/boards.host";
        logPath = dir + "/log";
    }
    void TearDown() override {
        RemoveTree(dir);
    }

    ProcessResult Run(const std::string &host, std::vector<std::string> args) {
        WriteTextFile(hostPath, host);
        args.insert(args.begin(), PROGRAM);
        return RunProcess(args, {{"RXB540_SIM_HOST", hostPath}, {"RXB540_SIM_LOG", logPath}});
    }

    std::string Host() {
        return ReadTextFile(hostPath);
    }
    std::string Log() {
        return ReadTextFile(logPath);
    }

    std::string dir;
    std::string hostPath;
    std::string logPath;
};

void ExpectResult(const ProcessResult &result, const std::string &out, const std::string &err, int status) {
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.status, status);
}

}  // namespace

TEST_F(Cli, MissingOrUnknownCommandPrintsUsageAndTouchesNoDevice) {
    ExpectResult(Run(Board("1"), {}), "", Usage(PROGRAM), 1);
    for (const char *word : {"LIST", "List", "lis", "lists", "", "--help", "Set", "INIT"}) {
        ExpectResult(Run(Board("1"), {word, "ANY", "1"}), "", Usage(PROGRAM), 1);
    }
    std::string ends;
    for (int run = 0; run < 9; ++run) {
        ends += "end open=0\n";
    }
    EXPECT_EQ(Log(), ends);
}

TEST_F(Cli, ListPrintsEveryBoardInEnumerationOrder) {
    const std::string host = FOREIGN + Board("1700000002") + "# a comment\n" + Board("1700000001") +
                             Board("unreadable", "open=fail") + Board("99", "attributes=fail");
    ExpectResult(Run(host, {"list", "extra", "args"}), "1700000002\n1700000001\n", "", 0);
    ExpectResult(Run(FOREIGN, {"list"}), "", "", 0);
    ExpectResult(Run("", {"list"}), "", "", 0);
    EXPECT_EQ(Host(), "");
}

TEST_F(Cli, ListNeverReportsAnErrorAndKeepsOneBoardPerLine) {
    const std::string unreadableSerial =
        "vid=0x16c0 pid=0x05df manufacturer=" + EscapeHostString(MANUFACTURER) + " product=RXB540\n";
    ExpectResult(Run(Board("a\\u000ab\\u000dc") + unreadableSerial, {"list"}), "a?b?c\n", "", 0);
    // C1 bytes (0x9B is the 8-bit CSI) are shown as '?' too; the bytes above them stay.
    const std::string c1 = Board("\\u0080x\\u009b2J\\u009f\\u00a0\\u00ff");
    ExpectResult(Run(c1, {"list"}), "?x?2J?\xA0\xFF\n", "", 0);
    const char *exactSerial =
        "\x80x\x9B"
        "2J\x9F\xA0\xFF";
    ExpectResult(Run(c1, {"set", exactSerial, "1"}), "", "", 0);
}

TEST_F(Cli, SetWithTooFewArgumentsTouchesNoDevice) {
    const std::string invalid = "Invalid arguments.\n" + Usage(PROGRAM);
    ExpectResult(Run(Board("123"), {"set", "123"}), "", invalid, 1);
    ExpectResult(Run(Board("123"), {"set"}), "", invalid, 1);
    EXPECT_EQ(Log(), "end open=0\nend open=0\n");
}

TEST_F(Cli, SetAnyChangesOnlyTheFirstBoard) {
    ExpectResult(Run(FOREIGN + Board("A", "state=1") + Board("B", "state=1"), {"set", "ANY", "3", "extra"}),
                 "", "", 0);
    EXPECT_EQ(Host(), FOREIGN + Board("A", "state=3") + Board("B", "state=1"));
    EXPECT_EQ(Log(),
              "enumerate\nopen 0\nclose 0\nopen 1\n"
              "feature 1 0031030000000000000000000000000000 ok\nclose 1\nend open=0\n");
}

TEST_F(Cli, SetSendsTheStateByteOfTheConvertedNumber) {
    const struct {
        const char *argument;
        const char *stateField;
    } cases[] = {{"300", "state=44"},          {"abc", "state=0"},          {"-1", "state=255"},
                 {"99999999999", "state=255"}, {"-99999999999", "state=0"}, {" 12abc", "state=12"}};
    for (const auto &c : cases) {
        ExpectResult(Run(Board("123", "state=7"), {"set", "123", c.argument}), "", "", 0);
        EXPECT_EQ(Host(), Board("123", c.stateField)) << c.argument;
    }
    // A board without a state field gets one.
    ExpectResult(Run(Board("123"), {"set", "123", "5"}), "", "", 0);
    EXPECT_EQ(Host(), Board("123", "state=5"));
}

TEST_F(Cli, SetToAnAbsentBoardNamesTheSerialAndTheReason) {
    ExpectResult(Run(Board("1") + Board("2"), {"set", "999", "1"}), "",
                 "error finding 999: The specified device was not found\n", 1);
    const std::string lastUnreadable =
        Board("1") + "vid=0x16c0 pid=0x05df manufacturer=" + EscapeHostString(MANUFACTURER) + "\n";
    ExpectResult(Run(lastUnreadable, {"set", "999", "1"}), "",
                 "error finding 999: Communication error with device\n", 1);
    ExpectResult(Run("", {"set", "ANY", "1"}), "", "error finding ANY: The specified device was not found\n",
                 1);
    EXPECT_EQ(Log().find("feature"), std::string::npos);
}

TEST_F(Cli, ARefusedReportIsAFailureAndChangesNothing) {
    const std::string host = Board("1", "feature=fail state=4");
    ExpectResult(Run(host, {"set", "1", "9"}), "", "error writing data: Communication error with device\n",
                 1);
    EXPECT_EQ(Host(), host);
    ExpectResult(Run(host, {"init"}), "", "error init serial: Communication error with device\n", 1);
    EXPECT_EQ(Host(), host);
    const std::string log = Log();
    EXPECT_NE(log.find("feature 0 0031090000000000000000000000000000 fail\nclose 0\nend open=0\n"),
              std::string::npos);
    EXPECT_TRUE(
        std::regex_search(log, std::regex("feature 0 0082[0-9a-f]{30} fail\nclose 0\nend open=0\n$")));
}

TEST_F(Cli, InitWritesANewSerialIntoTheFirstBoardThatPassesAllStringTests) {
    const std::string noSerial =
        "vid=0x16c0 pid=0x05df manufacturer=" + EscapeHostString(MANUFACTURER) + " product=RXB540\n";
    const ProcessResult result = Run(noSerial + Board("old1") + Board("old2"), {"init", "extra"});
    std::smatch match;
    ASSERT_TRUE(std::regex_match(result.out, match, std::regex("Set serial number to ([0-9]{10})\n")))
        << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    const std::string serial = match[1];
    EXPECT_EQ(Host(), noSerial + Board(serial) + Board("old2"));

    const ProcessResult listed = RunProcess({PROGRAM, "list"}, {{"RXB540_SIM_HOST", hostPath}});
    ExpectResult(listed, serial + "\nold2\n", "", 0);
}

TEST_F(Cli, InitWithoutABoardPrintsOnlyTheError) {
    ExpectResult(Run(FOREIGN, {"init"}), "", "error finding ANY: The specified device was not found\n", 1);
    EXPECT_EQ(Log(), "enumerate\nopen 0\nclose 0\nend open=0\n");
}

TEST_F(Cli, OutputThatCannotBeWrittenIsAFailure) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    const std::vector<std::pair<std::string, std::string>> env = {{"RXB540_SIM_HOST", hostPath}};
    const std::string full = "error writing output: No space left on device\n";
    WriteTextFile(hostPath, Board("1700000001"));
    ExpectResult(RunProcess({PROGRAM, "list"}, env, "/dev/full"), "", full, 1);
    // The board took the new serial number, but nobody learnt it.
    ExpectResult(RunProcess({PROGRAM, "init"}, env, "/dev/full"), "", full, 1);
    EXPECT_NE(Host(), Board("1700000001"));
    // Nothing to write, nothing lost.
    ExpectResult(RunProcess({PROGRAM, "set", "ANY", "1"}, env, "/dev/full"), "", "", 0);
    WriteTextFile(hostPath, "");
    ExpectResult(RunProcess({PROGRAM, "list"}, env, "/dev/full"), "", "", 0);
}

TEST_F(Cli, SimulatedHostProblemsEndWithStatusTwoBeforeAnyCommand) {
    ExpectResult(RunProcess({PROGRAM, "list"}, {}), "",
                 "rxb540-sim: RXB540_SIM_HOST is not set; it must name a host file\n", 2);
    ExpectResult(RunProcess({PROGRAM, "list"}, {{"RXB540_SIM_HOST", dir + "/absent"}}), "",
                 "rxb540-sim: cannot read host file " + dir + "/absent: No such file or directory\n", 2);
    ExpectResult(Run("# ok\nvid=1 colour=red\n", {"list"}), "",
                 "rxb540-sim: " + hostPath + ":2: unknown key: colour=red\n", 2);
    EXPECT_EQ(Log(), "");
}

TEST_F(Cli, DemoHostListsItsTwoBoards) {
    const std::string demo = ReadTextFile(std::string(RXB540_SOURCE_DIR) + "/examples/two-boards.host");
    if (MANUFACTURER != "example.com") {
        GTEST_SKIP() << "the demo host carries the default manufacturer string";
    }
    ExpectResult(Run(demo, {"list"}), "1700000001\n1700000002\n", "", 0);
}

// A descriptor that the test process holds open (not close-on-exec) does not
// reach the program: what a descriptor check finds open at its exit is the
// program's own.
TEST(ProcessRunner, HandsTheProgramOnlyItsStandardStreams) {
    if (std::getenv("RXB540_TEST_WRAPPER") != nullptr) {
        GTEST_SKIP() << "the shell would run under the wrapper too";
    }
    const int file = open("/dev/null", O_RDONLY);
    ASSERT_GE(file, 0);
    const int held = fcntl(file, F_DUPFD, 100);
    close(file);
    ASSERT_GE(held, 100);
    const ProcessResult result =
        RunProcess({"/bin/sh", "-c", "if [ -e /proc/self/fd/$0 ]; then echo open; else echo closed; fi",
                    std::to_string(held)},
                   {});
    close(held);
    ExpectResult(result, "closed\n", "", 0);
}
