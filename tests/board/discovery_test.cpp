#include "board/discovery.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/sim_host_fixture.h"

namespace {

// The right IDs, with fields given in full (strings left out cannot be read).
std::string Candidate(const std::string &fields) {
    return "vid=5824 pid=1503 " + fields + "\n";
}

// Visitors: one that keeps "path serial" of every board, one that selects the
// first board, one that stops at the first board.
BoardChoice Collect(void *context, const char *path, const char *serial) {
    static_cast<std::vector<std::string> *>(context)->push_back(std::string(path) + " " + serial);
    return BoardChoice::PASS_OVER;
}
BoardChoice SelectFirst(void *, const char *, const char *) {
    return BoardChoice::SELECT;
}
BoardChoice Stop(void *, const char *, const char *) {
    return BoardChoice::STOP;
}

class Discovery : public SimHostTest {
protected:
    // Runs one pass; on success the open handle must be the only one left.
    DeviceResult Open(SerialSelector serial, HidHandle *handle) {
        const DeviceResult result = OpenHidDevice(handle, RELAY_VENDOR_ID, RELAY_MANUFACTURER,
                                                  RELAY_PRODUCT_ID, RELAY_PRODUCT, serial);
        EXPECT_EQ(SimHostOpenListCount(), 0);
        EXPECT_EQ(SimHostOpenHandleCount(), result == DEVICE_OK ? 1 : 0);
        return result;
    }

    DeviceResult OpenAndClose(SerialSelector serial) {
        HidHandle handle = nullptr;
        const DeviceResult result = Open(serial, &handle);
        if (result == DEVICE_OK) {
            CloseHandle(handle);
        } else {
            EXPECT_EQ(handle, nullptr) << "handleOut written on failure";
        }
        return result;
    }

    std::string Log() {
        return ReadTextFile(logPath);
    }
};

}  // namespace

TEST(NarrowHidString, KeepsUnitsBelow256AndMarksTheOthers) {
    char buffer[HID_STRING_BYTES];
    const char16_t units[] = {u'A', u'B', 0x0100, u'C', 0x00FF, 0xD83D, 0xDE00, 0};
    std::memset(buffer, 0x55, sizeof buffer);
    std::memcpy(buffer, units, sizeof units);
    NarrowHidString(buffer);
    EXPECT_STREQ(buffer, "AB?C\xFF??");
}

TEST(NarrowHidString, StopsAtTheEndOfAnUnterminatedBuffer) {
    char buffer[HID_STRING_BYTES];
    for (std::size_t i = 0; i < HID_STRING_BYTES; i += 2) {
        const char16_t unit = u'x';
        std::memcpy(buffer + i, &unit, 2);
    }
    NarrowHidString(buffer);
    EXPECT_EQ(std::string(buffer), std::string(256, 'x'));
}

TEST_F(Discovery, NothingFoundWithoutBoards) {
    Load("");
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_NOT_FOUND);
    Load(FOREIGN + "# a comment\n\n" + FOREIGN);
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_NOT_FOUND);
    EXPECT_EQ(Log(), "enumerate\nenumerate\nopen 0\nclose 0\nopen 1\nclose 1\n");
}

TEST_F(Discovery, RunningResultFollowsTheLastCandidateWithTheRightIds) {
    // The last candidate's serial could not be read.
    Load(Board("1") + Candidate("manufacturer=" + EscapeHostString(RELAY_MANUFACTURER) + " product=RXB540"));
    EXPECT_EQ(OpenAndClose("999"), DEVICE_COMM_ERROR);

    // Interfaces that are not candidates leave it as it is.
    Load(Candidate("product=RXB540") + FOREIGN + Candidate("open=fail") + Candidate("attributes=fail") +
         Candidate("detail=fail"));
    EXPECT_EQ(OpenAndClose("999"), DEVICE_COMM_ERROR);

    // A later candidate read cleanly sets it back.
    Load(Candidate("product=RXB540") + Board("1"));
    EXPECT_EQ(OpenAndClose("999"), DEVICE_NOT_FOUND);
}

TEST_F(Discovery, StringsAreReadInOrderAndStopAtTheFirstMismatch) {
    // A wrong manufacturer is passed over before the unreadable product is tried.
    Load(Candidate("manufacturer=someone.else serial=1"));
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_NOT_FOUND);
    // The same for a wrong product before an unreadable serial.
    Load(Candidate("manufacturer=" + EscapeHostString(RELAY_MANUFACTURER) + " product=RXB541"));
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_NOT_FOUND);
    // A product string that cannot be read is a communication error.
    Load(Candidate("manufacturer=" + EscapeHostString(RELAY_MANUFACTURER) + " serial=1"));
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_COMM_ERROR);
    // Case matters in every comparison.
    Load(Candidate("manufacturer=" + EscapeHostString(RELAY_MANUFACTURER) + " product=rxb540 serial=1"));
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_NOT_FOUND);
}

TEST_F(Discovery, AnySelectsTheFirstBoardThatPassesEveryStringTest) {
    Load(FOREIGN + Candidate("manufacturer=" + EscapeHostString(RELAY_MANUFACTURER) + " product=RXB540") +
         Board("B1") + Board("B2"));
    HidHandle handle = nullptr;
    ASSERT_EQ(Open("ANY", &handle), DEVICE_OK);
    EXPECT_EQ(Log(), "enumerate\nopen 0\nclose 0\nopen 1\nclose 1\nopen 2\n");
    CloseHandle(handle);
}

TEST_F(Discovery, SerialSelectsTheFirstBoardWithThatExactSerial) {
    Load(Board("any") + Board("1234") + Board("123") + Board("123", "state=9"));
    HidHandle handle = nullptr;
    ASSERT_EQ(Open("123", &handle), DEVICE_OK);
    EXPECT_EQ(Log(), "enumerate\nopen 0\nclose 0\nopen 1\nclose 1\nopen 2\n");
    CloseHandle(handle);

    // The keyword in small letters is an ordinary serial number.
    Load(Board("x") + Board("any"));
    ASSERT_EQ(Open("any", &handle), DEVICE_OK);
    EXPECT_TRUE(Log().find("open 1\n") != std::string::npos);
    CloseHandle(handle);
    EXPECT_EQ(OpenAndClose("Any"), DEVICE_NOT_FOUND);
}

TEST_F(Discovery, WideDeviceStringsCompareInTheirNarrowForm) {
    Load(Board("AB\\u0100C") + Board("\\u00e9"));
    EXPECT_EQ(OpenAndClose("AB?C"), DEVICE_OK);
    EXPECT_EQ(OpenAndClose("\xE9"), DEVICE_OK);
    EXPECT_EQ(OpenAndClose("AB\xC4\x80"
                           "C"),
              DEVICE_NOT_FOUND);
}

TEST_F(Discovery, AVisitorMeetsEveryBoardWithItsPathAndExactSerial) {
    Load(Board("S1") + FOREIGN + Candidate("product=RXB540") + Board("two\\twords\\u001b[2J") + Board(""));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::vector<std::string> met;
    const BoardSearch search = {nullptr, Collect, &met};
    HidHandle handle = nullptr;
    EXPECT_EQ(SearchRelayBoards(&handle, search), DEVICE_NOT_FOUND);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(met, (std::vector<std::string>{"sim:0 S1", "sim:3 two\twords\x1b[2J", "sim:4 "}));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(SimHostOpenHandleCount(), 0);
    EXPECT_EQ(SimHostOpenListCount(), 0);

    // A null selector is listing mode: every board is met, none selected.
    EXPECT_EQ(OpenAndClose(nullptr), DEVICE_NOT_FOUND);
}

TEST_F(Discovery, APathSearchOpensOnlyThatInterface) {
    Load(Board("1") + Board("2") + FOREIGN + Candidate("product=RXB540"));
    const struct {
        const char *path;
        DeviceResult result;
        const char *log;
    } cases[] = {
        {"sim:1", DEVICE_OK, "enumerate\nopen 1\nclose 1\n"},
        {"sim:2", DEVICE_NOT_FOUND, "enumerate\nopen 2\nclose 2\n"},
        {"sim:3", DEVICE_COMM_ERROR, "enumerate\nopen 3\nclose 3\n"},
        {"sim:9", DEVICE_NOT_FOUND, "enumerate\n"},
        {"sim:01", DEVICE_NOT_FOUND, "enumerate\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> met;
        const BoardSearch search = {c.path, Collect, &met};
        HidHandle handle = nullptr;
        WriteTextFile(logPath, "");
        EXPECT_EQ(SearchRelayBoards(&handle, search), c.result == DEVICE_OK ? DEVICE_NOT_FOUND : c.result)
            << c.path;
        // The same search selecting what it meets.
        const BoardSearch selecting = {c.path, SelectFirst, nullptr};
        EXPECT_EQ(SearchRelayBoards(&handle, selecting), c.result) << c.path;
        if (c.result == DEVICE_OK) {
            CloseHandle(handle);
        }
        EXPECT_EQ(Log(), std::string(c.log) + c.log) << c.path;
    }
}

TEST_F(Discovery, AStoppedPassSelectsNothingAndClosesEverything) {
    Load(Board("1") + Board("2"));
    HidHandle handle = nullptr;
    const BoardSearch search = {nullptr, Stop, nullptr};
    EXPECT_EQ(SearchRelayBoards(&handle, search), DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(SimHostOpenHandleCount(), 0);
    EXPECT_EQ(Log(), "enumerate\nopen 0\nclose 0\n");
}

// A list that cannot be made is a failure of its own, never "not found": its
// reason is the system's cause, kept from the failing call.
TEST_F(Discovery, AFailedDeviceListEndsThePassUntouched) {
    Load(Board("1"));
    SimHostFailNextDeviceList(EMFILE);
    errno = 0;
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_LIST_FAILED);
    EXPECT_EQ(errno, EMFILE);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_OK);
}

TEST_F(Discovery, OpenRelayBoardPrintsNothing) {
    Load(Candidate("product=RXB540"));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HidHandle handle = nullptr;
    EXPECT_EQ(OpenRelayBoard(&handle, "ANY"), DEVICE_COMM_ERROR);
    EXPECT_EQ(OpenRelayBoard(&handle, "42"), DEVICE_COMM_ERROR);
    EXPECT_EQ(OpenRelayBoard(&handle, nullptr), DEVICE_COMM_ERROR);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(SimHostOpenHandleCount(), 0);

    // A failed listing prints nothing either, in listing mode too: the
    // system's cause is left in errno for the caller.
    testing::internal::CaptureStderr();
    for (SerialSelector serial : {"ANY", "42", static_cast<const char *>(nullptr)}) {
        SimHostFailNextDeviceList(EACCES);
        errno = 0;
        EXPECT_EQ(OpenRelayBoard(&handle, serial), DEVICE_LIST_FAILED);
        EXPECT_EQ(errno, EACCES);
        EXPECT_EQ(handle, nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    Load(Board("7"));
    ASSERT_EQ(OpenRelayBoard(&handle, "7"), DEVICE_OK);
    EXPECT_EQ(SimHostOpenHandleCount(), 1);
    CloseHandle(handle);
}
