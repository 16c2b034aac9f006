// librxb540 through its C interface, on the simulated host: selection,
// reports, serial texts, what stays open, and the texts of the codes.
#include "rxb540.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>

#include "support/sim_host_fixture.h"

namespace {

// The board's IDs and manufacturer, without a serial number that can be read.
std::string UnreadableSerial() {
    return "vid=5824 pid=1503 manufacturer=" + EscapeHostString(RELAY_MANUFACTURER) + " product=RXB540\n";
}

class Library : public SimHostTest {
protected:
    void TearDown() override {
        EXPECT_EQ(SimHostOpenHandleCount(), 0) << "a handle was left open";
        EXPECT_EQ(SimHostOpenListCount(), 0) << "a device list was left undestroyed";
        SimHostTest::TearDown();
    }

    // The log then holds only what the test itself does.
    void LoadWithEmptyLog(const std::string &host) {
        Load(host);
        WriteTextFile(logPath, "");
    }

    std::string Log() {
        return ReadTextFile(logPath);
    }
};

// How one opening went: its code, and the board's path and serial when it opened.
struct Opened {
    int result;
    std::string path;
    std::string serial;
};

Opened OpenAndClose(int (*open)(const char *, rxb540_board **), const char *what) {
    rxb540_board *board = reinterpret_cast<rxb540_board *>(&board);  // must become NULL on failure
    Opened opened = {open(what, &board), "", ""};
    if (opened.result == RXB540_OK) {
        opened.path = rxb540_board_path(board);
        opened.serial = rxb540_board_serial(board);
    } else {
        EXPECT_EQ(board, nullptr) << what;
    }
    rxb540_close(board);
    return opened;
}

}  // namespace

TEST_F(Library, SelectionAsTheCommandLineMakesIt) {
    const std::string twoSame = Board("D") + Board("D", "state=1");
    // By serial selector or by path: what to open, on which host, and how it goes.
    const struct {
        const char *what;
        const char *path;
        const char *serial;
        std::string host;
        int result;
        bool byPath;
    } cases[] = {
        {"B", "sim:2", "B", FOREIGN + Board("A") + Board("B"), RXB540_OK, false},
        {"ANY", "sim:2", "X", FOREIGN + UnreadableSerial() + Board("X") + Board("Y"), RXB540_OK, false},
        {"any", "sim:1", "any", Board("x") + Board("any"), RXB540_OK, false},
        {"Any", "", "", Board("x") + Board("any"), RXB540_ERROR_NOT_FOUND, false},
        {"123", "sim:1", "123", Board("1234") + Board("123"), RXB540_OK, false},
        {"AB?C", "sim:0", "AB?C", Board("AB\\u0100C"), RXB540_OK, false},
        {"\xE9", "sim:0", "\xE9", Board("\\u00e9"), RXB540_OK, false},
        {"a\x1b"
         "b",
         "sim:0",
         "a\x1b"
         "b",
         Board("a\\u001bb"), RXB540_OK, false},
        {"999", "", "", Board("1") + UnreadableSerial(), RXB540_ERROR_COMMUNICATION, false},
        {"999", "", "", UnreadableSerial() + Board("1"), RXB540_ERROR_NOT_FOUND, false},
        {"ANY", "", "", FOREIGN, RXB540_ERROR_NOT_FOUND, false},
        {"ANY", "", "", "", RXB540_ERROR_NOT_FOUND, false},
        // Duplicates: the first by serial number, either one by its path.
        {"D", "sim:0", "D", twoSame, RXB540_OK, false},
        {"sim:1", "sim:1", "D", twoSame, RXB540_OK, true},
        {"sim:0", "sim:0", "D", twoSame, RXB540_OK, true},
        {"sim:0", "", "", FOREIGN + Board("A"), RXB540_ERROR_NOT_FOUND, true},
        {"sim:2", "", "", FOREIGN + Board("A"), RXB540_ERROR_NOT_FOUND, true},
        {"/dev/hidraw1", "", "", FOREIGN + Board("A"), RXB540_ERROR_NOT_FOUND, true},
        {"sim:1", "", "", Board("A") + UnreadableSerial(), RXB540_ERROR_COMMUNICATION, true},
        {"sim:0", "", "", Board("A", "open=fail"), RXB540_ERROR_NOT_FOUND, true},
    };
    for (const auto &c : cases) {
        LoadWithEmptyLog(c.host);
        const Opened opened = OpenAndClose(c.byPath ? rxb540_open_path : rxb540_open, c.what);
        EXPECT_EQ(opened.result, c.result) << c.what << " on\n" << c.host;
        EXPECT_EQ(opened.path, c.path) << c.what << " on\n" << c.host;
        EXPECT_EQ(opened.serial, c.serial) << c.what << " on\n" << c.host;
    }
}

TEST_F(Library, AnOpeningMakesTheCallsOfTheCommandLine) {
    LoadWithEmptyLog(FOREIGN + Board("A") + Board("B"));
    rxb540_board *board = nullptr;
    ASSERT_EQ(rxb540_open("B", &board), RXB540_OK);
    EXPECT_EQ(rxb540_set_state(board, 3), RXB540_OK);
    rxb540_close(board);
    EXPECT_EQ(Log(),
              "enumerate\nopen 0\nclose 0\nopen 1\nclose 1\nopen 2\n"
              "feature 2 0031030000000000000000000000000000 ok\nclose 2\n");
    EXPECT_EQ(SimHostBoardState(2), 3);

    // By path, only the interface at that path is opened.
    LoadWithEmptyLog(FOREIGN + Board("A") + Board("B"));
    ASSERT_EQ(rxb540_open_path("sim:2", &board), RXB540_OK);
    rxb540_close(board);
    EXPECT_EQ(Log(), "enumerate\nopen 2\nclose 2\n");
}

TEST_F(Library, TheListHasEveryBoardWithItsPathAndLeavesNothingOpen) {
    LoadWithEmptyLog(Board("S1") + FOREIGN + UnreadableSerial() + Board("two\\twords\\u001b[2J") + Board("") +
                     Board("S1", "open=fail"));
    rxb540_list *list = reinterpret_cast<rxb540_list *>(&list);
    ASSERT_EQ(rxb540_list_boards(&list), RXB540_OK);
    ASSERT_EQ(rxb540_list_count(list), 3u);
    const char *const serials[] = {"S1", "two\twords\x1b[2J", ""};
    const char *const paths[] = {"sim:0", "sim:3", "sim:4"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(rxb540_list_serial(list, i), serials[i]);
        EXPECT_STREQ(rxb540_list_path(list, i), paths[i]);
    }
    EXPECT_EQ(rxb540_list_serial(list, 3), nullptr);
    EXPECT_EQ(rxb540_list_path(list, SIZE_MAX), nullptr);
    EXPECT_EQ(SimHostOpenHandleCount(), 0);
    rxb540_list_free(list);
    EXPECT_EQ(Log(),
              "enumerate\nopen 0\nclose 0\nopen 1\nclose 1\nopen 2\nclose 2\nopen 3\nclose 3\n"
              "open 4\nclose 4\n");

    // No board is an empty list, not a failure.
    LoadWithEmptyLog(FOREIGN);
    ASSERT_EQ(rxb540_list_boards(&list), RXB540_OK);
    EXPECT_EQ(rxb540_list_count(list), 0u);
    EXPECT_EQ(rxb540_list_serial(list, 0), nullptr);
    rxb540_list_free(list);
}

// Interfaces with the board's IDs whose strings cannot be read are listed
// apart, so that a caller can tell a board that is busy for a moment from one
// that is gone; every entry carries its attachment, as does an open board.
TEST_F(Library, AttachmentsAndInterfacesThatCouldNotBeRead) {
    const std::string unreadableProduct =
        "vid=5824 pid=1503 manufacturer=" + EscapeHostString(RELAY_MANUFACTURER) + " serial=P attachment=4\n";
    Load(Board("S1", "attachment=7") + UnreadableSerial() + FOREIGN + unreadableProduct +
         "vid=5824 pid=1503 product=RXB540 serial=M\n" + Board("S2") +
         "vid=5824 pid=1503 manufacturer=other.org product=RXB540\n");
    rxb540_list *list = nullptr;
    ASSERT_EQ(rxb540_list_boards(&list), RXB540_OK);
    ASSERT_EQ(rxb540_list_count(list), 2u);
    EXPECT_STREQ(rxb540_list_attachment(list, 0), "7");
    EXPECT_STREQ(rxb540_list_attachment(list, 1), "0");
    EXPECT_EQ(rxb540_list_attachment(list, 2), nullptr);
    ASSERT_EQ(rxb540_list_unreadable_count(list), 3u) << "not a foreign interface, nor another maker's";
    const char *const paths[] = {"sim:1", "sim:3", "sim:4"};
    const char *const attachments[] = {"0", "4", "0"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(rxb540_list_unreadable_path(list, i), paths[i]);
        EXPECT_STREQ(rxb540_list_unreadable_attachment(list, i), attachments[i]);
    }
    EXPECT_EQ(rxb540_list_unreadable_path(list, 3), nullptr);
    EXPECT_EQ(rxb540_list_unreadable_attachment(list, SIZE_MAX), nullptr);
    rxb540_list_free(list);

    rxb540_board *board = nullptr;
    ASSERT_EQ(rxb540_open("S1", &board), RXB540_OK);
    EXPECT_STREQ(rxb540_board_attachment(board), "7");
    rxb540_close(board);
    ASSERT_EQ(rxb540_open_path("sim:5", &board), RXB540_OK);
    EXPECT_STREQ(rxb540_board_attachment(board), "0");
    rxb540_close(board);
}

TEST_F(Library, NullObjectsAreRefusedOrIgnored) {
    LoadWithEmptyLog(Board("1"));
    rxb540_board *board = nullptr;
    char serial[RXB540_SERIAL_BUFFER];
    EXPECT_EQ(rxb540_list_boards(nullptr), RXB540_ERROR_INVALID_ARGUMENT);
    board = reinterpret_cast<rxb540_board *>(&board);  // must become NULL
    EXPECT_EQ(rxb540_open(nullptr, &board), RXB540_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(board, nullptr);
    board = reinterpret_cast<rxb540_board *>(&board);
    EXPECT_EQ(rxb540_open("ANY", nullptr), RXB540_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rxb540_open_path(nullptr, &board), RXB540_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rxb540_open_path("sim:0", nullptr), RXB540_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rxb540_set_state(nullptr, 1), RXB540_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rxb540_write_serial(nullptr, "1"), RXB540_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rxb540_init_serial(nullptr, serial), RXB540_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(board, nullptr);
    EXPECT_EQ(rxb540_list_count(nullptr), 0u);
    EXPECT_EQ(rxb540_list_serial(nullptr, 0), nullptr);
    EXPECT_EQ(rxb540_list_path(nullptr, 0), nullptr);
    EXPECT_EQ(rxb540_list_attachment(nullptr, 0), nullptr);
    EXPECT_EQ(rxb540_list_unreadable_count(nullptr), 0u);
    EXPECT_EQ(rxb540_list_unreadable_path(nullptr, 0), nullptr);
    EXPECT_EQ(rxb540_list_unreadable_attachment(nullptr, 0), nullptr);
    EXPECT_EQ(rxb540_board_attachment(nullptr), nullptr);
    EXPECT_EQ(rxb540_board_serial(nullptr), nullptr);
    EXPECT_EQ(rxb540_board_path(nullptr), nullptr);
    rxb540_list_free(nullptr);
    rxb540_close(nullptr);

    ASSERT_EQ(rxb540_open("ANY", &board), RXB540_OK);
    EXPECT_EQ(rxb540_init_serial(board, nullptr), RXB540_ERROR_INVALID_ARGUMENT);
    rxb540_close(board);
    EXPECT_EQ(Log(), "enumerate\nopen 0\nclose 0\n");
}

TEST_F(Library, SerialTextsAreCheckedBeforeAnythingIsSent) {
    const struct {
        const char *text;
        bool allowed;
    } cases[] = {
        {"A", true},     {"abc.DEF_9-z", true},   {"12345678901", true}, {"any", true},
        {"", false},     {"123456789012", false}, {"ANY", false},        {" x", false},
        {"a b", false},  {"a/b", false},          {"a\n", false},        {"caf\xC3\xA9", false},
        {"\xE9", false}, {"a*", false},           {nullptr, false},
    };
    for (const auto &c : cases) {
        LoadWithEmptyLog(Board("old"));
        rxb540_board *board = nullptr;
        ASSERT_EQ(rxb540_open("old", &board), RXB540_OK);
        WriteTextFile(logPath, "");
        const char *label = c.text == nullptr ? "(null)" : c.text;
        EXPECT_EQ(rxb540_write_serial(board, c.text), c.allowed ? RXB540_OK : RXB540_ERROR_INVALID_ARGUMENT)
            << label;
        EXPECT_STREQ(rxb540_board_serial(board), c.allowed ? c.text : "old") << label;
        rxb540_close(board);
        const bool sent = Log().find("feature") != std::string::npos;
        EXPECT_EQ(sent, c.allowed) << label;
    }
    // The report: the text and its zero from offset 2, then zeros; the board keeps it.
    LoadWithEmptyLog(Board("old"));
    rxb540_board *board = nullptr;
    ASSERT_EQ(rxb540_open("old", &board), RXB540_OK);
    ASSERT_EQ(rxb540_write_serial(board, "12345678901"), RXB540_OK);
    rxb540_close(board);
    EXPECT_NE(Log().find("feature 0 0082" + std::string("3132333435363738393031") + "00000000 ok\n"),
              std::string::npos)
        << Log();
    EXPECT_EQ(SimHostText(), Board("12345678901"));
}

TEST_F(Library, InitWritesTheTimeBasedSerialAndKeepsIt) {
    LoadWithEmptyLog(Board("old"));
    rxb540_board *board = nullptr;
    ASSERT_EQ(rxb540_open("ANY", &board), RXB540_OK);
    char serial[RXB540_SERIAL_BUFFER];
    std::memset(serial, 'x', sizeof serial);
    ASSERT_EQ(rxb540_init_serial(board, serial), RXB540_OK);
    ASSERT_NE(std::memchr(serial, '\0', sizeof serial), nullptr);
    EXPECT_EQ(std::strlen(serial), 10u) << serial;
    EXPECT_STREQ(rxb540_board_serial(board), serial);
    rxb540_close(board);
    EXPECT_EQ(SimHostText(), Board(serial));
}

TEST_F(Library, RefusedReportsAreCommunicationErrorsAndChangeNothing) {
    const std::string host = Board("old", "feature=fail state=4");
    LoadWithEmptyLog(host);
    rxb540_board *board = nullptr;
    ASSERT_EQ(rxb540_open("old", &board), RXB540_OK);
    char serial[RXB540_SERIAL_BUFFER] = "untouched";
    EXPECT_EQ(rxb540_set_state(board, 9), RXB540_ERROR_COMMUNICATION);
    EXPECT_EQ(rxb540_write_serial(board, "new"), RXB540_ERROR_COMMUNICATION);
    EXPECT_EQ(rxb540_init_serial(board, serial), RXB540_ERROR_COMMUNICATION);
    EXPECT_STREQ(serial, "untouched");
    EXPECT_STREQ(rxb540_board_serial(board), "old");
    rxb540_close(board);
    EXPECT_EQ(SimHostText(), host);
    // Each report was sent once, never again.
    EXPECT_EQ(SimHostFeatureCalls().size(), 3u);
}

TEST_F(Library, AHostWhoseDevicesCannotBeListedIsAPlatformError) {
    LoadWithEmptyLog(Board("1"));
    SimHostFailNextDeviceList();
    rxb540_list *list = reinterpret_cast<rxb540_list *>(&list);
    EXPECT_EQ(rxb540_list_boards(&list), RXB540_ERROR_PLATFORM);
    EXPECT_EQ(list, nullptr);
    SimHostFailNextDeviceList();
    EXPECT_EQ(OpenAndClose(rxb540_open, "ANY").result, RXB540_ERROR_PLATFORM);
    SimHostFailNextDeviceList();
    EXPECT_EQ(OpenAndClose(rxb540_open_path, "sim:0").result, RXB540_ERROR_PLATFORM);
    EXPECT_EQ(Log(), "");
}

TEST(LibraryTexts, EveryCodeHasItsOwnTextAndAnyOtherIntOneToo) {
    EXPECT_STREQ(rxb540_strerror(RXB540_ERROR_NOT_FOUND), "The specified device was not found");
    EXPECT_STREQ(rxb540_strerror(RXB540_ERROR_COMMUNICATION), "Communication error with device");
    const int codes[] = {RXB540_OK,
                         RXB540_ERROR_NOT_FOUND,
                         RXB540_ERROR_COMMUNICATION,
                         RXB540_ERROR_INVALID_ARGUMENT,
                         RXB540_ERROR_NO_MEMORY,
                         RXB540_ERROR_PLATFORM};
    std::set<std::string> texts;
    for (int code : codes) {
        EXPECT_TRUE(code == RXB540_OK || code < 0) << code;
        texts.insert(rxb540_strerror(code));
    }
    EXPECT_EQ(texts.size(), sizeof codes / sizeof codes[0]);
    for (int other : {1, 3, -6, -100, INT_MIN, INT_MAX}) {
        ASSERT_NE(rxb540_strerror(other), nullptr);
        EXPECT_STREQ(rxb540_strerror(other), "Unknown error");
    }
    EXPECT_EQ(texts.count("Unknown error"), 0u);
}

TEST(LibraryVersion, TheLibraryAndTheHeaderAgree) {
    const std::string header = std::to_string(RXB540_VERSION_MAJOR) + "." +
                               std::to_string(RXB540_VERSION_MINOR) + "." +
                               std::to_string(RXB540_VERSION_PATCH);
    EXPECT_EQ(std::string(rxb540_version()), header);
    EXPECT_EQ(RXB540_VERSION,
              RXB540_MAKE_VERSION(RXB540_VERSION_MAJOR, RXB540_VERSION_MINOR, RXB540_VERSION_PATCH));
    EXPECT_LT(RXB540_MAKE_VERSION(0, 9, 99), RXB540_MAKE_VERSION(1, 0, 0));
    EXPECT_LT(RXB540_MAKE_VERSION(0, 0, 255), RXB540_MAKE_VERSION(0, 1, 0));
}
