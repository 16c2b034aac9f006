#include "board/discovery.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "board/device_identity.h"
#include "sim_host.h"
#include "support/sim_host_text.h"
#include "support/temp_dir.h"

namespace {

const std::string FOREIGN = "vid=0x046d pid=0xc31c manufacturer=Logitech product=Keyboard serial=K1\n";

std::string Board(const std::string &serial, const std::string &more = "") {
    return BoardLine(RELAY_MANUFACTURER, serial, more);
}

// The right IDs, with fields given in full (strings left out cannot be read).
std::string Candidate(const std::string &fields) {
    return "vid=5824 pid=1503 " + fields + "\n";
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeTempDir();
        logPath = dir + "/log";
        SimHostSetLog(logPath.c_str());
    }
    void TearDown() override {
        SimHostSetLog(nullptr);
        RemoveTree(dir);
    }

    void Load(const std::string &host) {
        std::string error;
        ASSERT_TRUE(SimHostLoadText(host, &error)) << error;
    }

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

    std::string dir;
    std::string logPath;
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

TEST_F(Discovery, ListingPrintsEachBoardOnOneLineAndSelectsNone) {
    Load(Board("S1") + FOREIGN + Candidate("product=RXB540") + Board("two\\twords\\u001b[2J") + Board(""));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HidHandle handle = nullptr;
    EXPECT_EQ(Open(nullptr, &handle), DEVICE_NOT_FOUND);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "S1\ntwo?words?[2J\n\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(handle, nullptr);
}

// A list that cannot be made is a failure of its own, never "not found": its
// reason is the system's cause, kept from the failing call.
TEST_F(Discovery, AFailedDeviceListEndsThePassUntouched) {
    Load(Board("1"));
    SimHostFailNextDeviceList(EMFILE);
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_LIST_FAILED);
    EXPECT_STREQ(ListFailureCause(), std::strerror(EMFILE));
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(OpenAndClose("ANY"), DEVICE_OK);
}

TEST_F(Discovery, OpenRelayBoardReportsFailureOnlyWhenASelectorWasGiven) {
    Load(Candidate("product=RXB540"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(OpenRelayBoard("ANY"), nullptr);
    EXPECT_EQ(OpenRelayBoard("42"), nullptr);
    EXPECT_EQ(OpenRelayBoard(nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error finding ANY: Communication error with device\n"
              "error finding 42: Communication error with device\n");
    EXPECT_EQ(SimHostOpenHandleCount(), 0);

    // A failed listing is reported in listing mode too, with the system's cause.
    testing::internal::CaptureStderr();
    for (SerialSelector serial : {"ANY", "42", static_cast<const char *>(nullptr)}) {
        SimHostFailNextDeviceList(EACCES);
        HidHandle handle = nullptr;
        EXPECT_EQ(SelectRelayBoard(serial, &handle), DEVICE_LIST_FAILED);
        EXPECT_EQ(handle, nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error finding ANY: Permission denied\n"
              "error finding 42: Permission denied\n"
              "error listing devices: Permission denied\n");

    Load(Board("7"));
    HidHandle handle = OpenRelayBoard("7");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(SimHostOpenHandleCount(), 1);
    CloseHandle(handle);
}
