// The hidraw backend's handles: which nodes it opens, and the IDs and strings
// it gives for them (the trees are laid out by hidraw_fixture.h).
#include "hidraw_fixture.h"

#include "platform/linux/hidraw_test_roots.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace hidraw_tests;

TEST_F(LinuxHidraw, UsbDevicesGiveTheirIdsAndTheStringsOfTheirOwnUsbDevice) {
    AddRelayBoard(root, 0, "20240101");
    AddUsbHidNode(root, 1, 7, 0x1234, 0x5678, {"Other Maker", "Gadget", "X1"});
    HANDLE board = OpenPath(DevPath(0));
    HANDLE other = OpenPath(DevPath(1));
    ASSERT_NE(board, INVALID_HANDLE_VALUE);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);

    EXPECT_EQ(Attributes(other), "1234:5678 0100");
    EXPECT_EQ(Attributes(board), "16C0:05DF 0100");

    EXPECT_EQ(ReadString(HidD_GetManufacturerString, board), RelayManufacturer());
    EXPECT_EQ(ReadString(HidD_GetProductString, other), u"Gadget");
    EXPECT_EQ(ReadString(HidD_GetProductString, board), u"RXB540");
    EXPECT_EQ(ReadString(HidD_GetSerialNumberString, board), u"20240101");
    EXPECT_EQ(ReadString(HidD_GetSerialNumberString, other), u"X1");
    EXPECT_TRUE(CloseHandle(board));
    EXPECT_TRUE(CloseHandle(other));
}

TEST_F(LinuxHidraw, UsbDeviceWithoutSerialAttributeHasNoReadableSerial) {
    AddRelayBoard(root, 0, nullptr);
    HANDLE board = OpenPath(DevPath(0));
    ASSERT_NE(board, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadString(HidD_GetManufacturerString, board), RelayManufacturer());
    EXPECT_EQ(ReadString(HidD_GetProductString, board), u"RXB540");
    EXPECT_EQ(ReadString(HidD_GetSerialNumberString, board), READ_FAILED);
    EXPECT_TRUE(CloseHandle(board));
}

TEST_F(LinuxHidraw, OtherBusesGiveNameAndUniqueIdButNoManufacturer) {
    // A Bluetooth keyboard behind a USB radio: the radio's strings are not the keyboard's.
    const std::string radio = "pci0000:00/0000:00:14.0/usb1/1-5";
    AddUsbDevice(root + "/sys/devices/" + radio, 0x8087, 0x0AAA,
                 {"Intel Corp.", "Bluetooth Radio", "RADIO1"});
    AddHidrawNode(root, 4, radio + "/1-5:1.0/bluetooth/hci0/hci0:256/0005:046D:B35B.0005",
                  HidUevent(0x0005, 0x046D, 0xB35B, "MX Keys", "aa:bb:cc:dd:ee:ff"));
    AddHidrawNode(root, 5, "virtual/misc/uhid/0006:1234:5678.0006",
                  HidUevent(0x0006, 0x1234, 0x5678, "Virtual Pad", ""));
    HANDLE keyboard = OpenPath(DevPath(4));
    HANDLE pad = OpenPath(DevPath(5));
    ASSERT_NE(keyboard, INVALID_HANDLE_VALUE);
    ASSERT_NE(pad, INVALID_HANDLE_VALUE);

    EXPECT_EQ(Attributes(keyboard), "046D:B35B 0000");
    EXPECT_EQ(ReadString(HidD_GetManufacturerString, keyboard), READ_FAILED);
    EXPECT_EQ(ReadString(HidD_GetProductString, keyboard), u"MX Keys");
    EXPECT_EQ(ReadString(HidD_GetSerialNumberString, keyboard), u"aa:bb:cc:dd:ee:ff");
    EXPECT_EQ(ReadString(HidD_GetProductString, pad), u"Virtual Pad");
    EXPECT_EQ(ReadString(HidD_GetSerialNumberString, pad), READ_FAILED);
    EXPECT_TRUE(CloseHandle(keyboard));
    EXPECT_TRUE(CloseHandle(pad));
}

// Tests run as root, which opens any regular file whatever its mode, so the
// node that cannot be opened is one whose /dev entry is missing, or one with
// something other than a hidraw device in its place: a folder, a FIFO, a
// plain file, or a node of another class (here /dev/null's number) or of a
// number that has no device. A file that is not named as a node is never
// opened, and nothing is ever created.
TEST_F(LinuxHidraw, PathThatNamesNoOpenableNodeGivesTheInvalidHandle) {
    for (int number = 3; number <= 9; ++number) {
        AddRelayBoard(root, number, "A");
        ASSERT_EQ(unlink(DevPath(number).c_str()), 0);
    }
    AddCharDeviceEntry(root, "virtual/mem", "mem", "null", 1, 3);
    ASSERT_EQ(mkdir(DevPath(4).c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(DevPath(5).c_str(), 0600), 0);
    WriteTextFile(DevPath(6), "");
    AddStandInNode(DevPath(7), 1, 3);
    AddStandInNode(DevPath(8), HIDRAW_MAJOR, 99);
    ASSERT_EQ(symlink(DevPath(7).c_str(), DevPath(9).c_str()), 0);
    WriteTextFile(root + "/dev/not-a-node", "");
    for (int number = 3; number <= 9; ++number) {
        EXPECT_EQ(OpenPath(DevPath(number)), INVALID_HANDLE_VALUE) << NodeName(number);
    }
    EXPECT_EQ(OpenPath(root + "/dev/not-a-node"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenPath(""), INVALID_HANDLE_VALUE);

    const DWORD createAlways = 2;
    EXPECT_EQ(
        CreateFileA(DevPath(3).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, createAlways, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_NE(access(DevPath(3).c_str(), F_OK), 0) << "a node was created";
}

// A plain file that gets the inode number of an unlinked node (file systems
// hand freed inode numbers out again at once) is still a plain file.
TEST_F(LinuxHidraw, PlainFileOnTheInodeOfAnUnlinkedNodeIsRefused) {
    AddRelayBoard(root, 0, "A");
    int reused = 0;
    for (int attempt = 0; attempt < 200 && reused < 3; ++attempt) {
        struct stat node;
        ASSERT_EQ(stat(DevPath(0).c_str(), &node), 0);
        ASSERT_EQ(unlink(DevPath(0).c_str()), 0);
        WriteTextFile(DevPath(0), "");
        struct stat plain;
        ASSERT_EQ(stat(DevPath(0).c_str(), &plain), 0);
        if (plain.st_ino == node.st_ino) {
            ++reused;
            EXPECT_EQ(OpenPath(DevPath(0)), INVALID_HANDLE_VALUE) << "attempt " << attempt;
        }
        ASSERT_EQ(unlink(DevPath(0).c_str()), 0);
        AddStandInNode(DevPath(0), HIDRAW_MAJOR, 0);
    }
    ASSERT_GT(reused, 0) << "the file system never reused an inode number: nothing was tested";
}

// A node is the device that its number names, whatever it is called or
// however it is reached: in a container given the host's hidraw1 as its
// hidraw0, /dev/hidraw0 reaches what the host's sysfs calls hidraw1. Its IDs,
// strings and serial number are that device's, never those of the sysfs
// entry that bears the node's name (board A here, which no node reaches).
TEST_F(LinuxHidraw, NodeIsTheDeviceOfItsNumberWhateverItsName) {
    AddRelayBoard(root, 0, "A");
    AddRelayBoard(root, 1, "B");
    AddUsbHidNode(root, 2, 9, 0x1234, 0x5678, {"Other Maker", "Gadget", "X"});
    const struct {
        int reached;
        bool symbolic;  // a symbolic link to the node, as udev rules add them
        const char *listing;
        const char *attributes;
        const char16_t *serial;
    } cases[] = {
        {1, false, "B\nB\n", "16C0:05DF 0100", u"B"},
        {1, true, "B\nB\n", "16C0:05DF 0100", u"B"},
        {2, false, "B\n", "1234:5678 0100", u"X"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(NodeName(c.reached) + (c.symbolic ? " by a symbolic link" : " by its number"));
        ASSERT_EQ(unlink(DevPath(0).c_str()), 0);
        ASSERT_EQ((c.symbolic ? symlink : link)(DevPath(c.reached).c_str(), DevPath(0).c_str()), 0);

        HANDLE node = OpenPath(DevPath(0));
        ASSERT_NE(node, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Attributes(node), c.attributes);
        EXPECT_EQ(ReadString(HidD_GetSerialNumberString, node), c.serial);
        EXPECT_TRUE(CloseHandle(node));

        std::string listed;
        EXPECT_EQ(ListRelayBoards(&listed), DEVICE_NOT_FOUND);
        EXPECT_EQ(listed, c.listing);
        HidHandle handle = nullptr;
        EXPECT_EQ(FindRelayBoard(&handle, "A"), DEVICE_NOT_FOUND);
    }
}

TEST_F(LinuxHidraw, Utf8BecomesUtf16AndInvalidSequencesBecomeReplacementCharacters) {
    const std::string invalid =
        "A\xC3(B"               // a lead byte without its continuation
        "\xED\xA0\x80"          // an encoded surrogate
        "\xC0\xAF\xE0\x80\xAF"  // overlong forms
        "C\xF0\x9F\x98";        // a sequence cut by the end of the text
    AddUsbHidNode(root, 0, 1, 0x16C0, 0x05DF, {"Relé ☃", "Clef 𝄞", invalid.c_str()});
    HANDLE board = OpenPath(DevPath(0));
    ASSERT_NE(board, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadString(HidD_GetManufacturerString, board), u"Rel\u00E9 \u2603");
    EXPECT_EQ(ReadString(HidD_GetProductString, board), u"Clef \xD834\xDD1E");
    EXPECT_EQ(ReadString(HidD_GetSerialNumberString, board),
              u"A\xFFFD(B\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD"
              u"C\xFFFD");
    EXPECT_TRUE(CloseHandle(board));
}

TEST_F(LinuxHidraw, LongStringIsCutToTheCallersBufferAndAlwaysTerminated) {
    AddUsbHidNode(root, 0, 1, 0x16C0, 0x05DF,
                  {"abc\xF0\x9D\x84\x9E", "RXB540", std::string(300, 'x').c_str()});
    HANDLE board = OpenPath(DevPath(0));
    ASSERT_NE(board, INVALID_HANDLE_VALUE);

    std::vector<char16_t> units(300, u'#');
    ASSERT_TRUE(HidD_GetSerialNumberString(board, units.data(), STRING_BUFFER_BYTES));
    EXPECT_EQ(std::u16string(units.data()), std::u16string(255, u'x'));
    EXPECT_EQ(units[256], u'#');

    // Five units of room: "abc", no half of the pair, the zero unit.
    units.assign(8, u'#');
    ASSERT_TRUE(HidD_GetManufacturerString(board, units.data(), 5 * sizeof(char16_t)));
    EXPECT_EQ(std::u16string(units.data()), u"abc");
    EXPECT_EQ(units[4], u'#');
    // An odd length rounds down to whole units.
    units.assign(8, u'#');
    ASSERT_TRUE(HidD_GetManufacturerString(board, units.data(), 3 * sizeof(char16_t) + 1));
    EXPECT_EQ(std::u16string(units.data()), u"ab");
    EXPECT_EQ(units[3], u'#');
    // No room for the zero unit, or no buffer: nothing is written.
    units.assign(8, u'#');
    EXPECT_FALSE(HidD_GetProductString(board, units.data(), 1));
    EXPECT_EQ(units[0], u'#');
    EXPECT_FALSE(HidD_GetProductString(board, nullptr, STRING_BUFFER_BYTES));
    EXPECT_TRUE(CloseHandle(board));
}

TEST_F(LinuxHidraw, DescriptorZeroIsAnOrdinaryHandle) {
    AddRelayBoard(root, 0, "A");
    const int savedInput = dup(0);
    ASSERT_GE(savedInput, 0);
    close(0);
    HANDLE board = OpenPath(DevPath(0));
    const std::u16string product = ReadString(HidD_GetProductString, board);
    const BOOL closed = CloseHandle(board);
    dup2(savedInput, 0);
    close(savedInput);

    EXPECT_NE(board, INVALID_HANDLE_VALUE);
    EXPECT_NE(board, nullptr);
    EXPECT_EQ(product, u"RXB540");
    EXPECT_TRUE(closed);
}

TEST_F(LinuxHidraw, CallsOnAReleasedOrForeignHandleOrListFail) {
    AddRelayBoard(root, 0, "A");
    HANDLE board = OpenPath(DevPath(0));
    ASSERT_NE(board, INVALID_HANDLE_VALUE);
    unsigned char report[17] = {0x00, 0x31, 0x05};
    // A regular file does not take the feature request.
    EXPECT_FALSE(HidD_SetFeature(board, report, sizeof(report)));
    EXPECT_TRUE(CloseHandle(board));
    EXPECT_FALSE(CloseHandle(board));
    EXPECT_EQ(ReadString(HidD_GetManufacturerString, board), READ_FAILED);

    // Nor the ID request; without a uevent to fall back on there are no IDs.
    board = OpenPath(DevPath(0));
    ASSERT_NE(board, INVALID_HANDLE_VALUE);
    ASSERT_EQ(unlink((root + "/sys/class/hidraw/hidraw0/device/uevent").c_str()), 0);
    EXPECT_EQ(Attributes(board), "(read failed)");
    EXPECT_TRUE(CloseHandle(board));

    EXPECT_FALSE(HidD_SetFeature(INVALID_HANDLE_VALUE, report, sizeof(report)));
    EXPECT_EQ(Attributes(nullptr), "(read failed)");
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));

    // A descriptor that the backend did not open (here: a copy of standard
    // error, in handle form) is neither used nor closed.
    const int foreign = dup(2);
    ASSERT_GE(foreign, 0);
    HANDLE notOurs = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(foreign) + 1);
    EXPECT_EQ(Attributes(notOurs), "(read failed)");
    EXPECT_FALSE(HidD_SetFeature(notOurs, report, sizeof(report)));
    EXPECT_FALSE(CloseHandle(notOurs));
    EXPECT_EQ(close(foreign), 0) << "the foreign descriptor was closed";

    // A destroyed list, and memory that never was a list, are neither read nor freed.
    HDEVINFO list = OpenHidList();
    ASSERT_TRUE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_TRUE(InterfacePaths(list).empty());
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));
    SP_DEVICE_INTERFACE_DATA notAList[2] = {};
    EXPECT_TRUE(InterfacePaths(notAList).empty());
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(notAList));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE));
}

// The walk up to a node's USB device is bounded by the canonical sysfs root,
// so a root reached through a symbolic link must still find the strings.
TEST_F(LinuxHidraw, SysfsRootThroughASymbolicLinkStillFindsTheUsbDevice) {
    AddRelayBoard(root, 0, "20240101");
    const std::string linkedSys = root + "/linked-sys";
    ASSERT_EQ(symlink((root + "/sys").c_str(), linkedSys.c_str()), 0);
    SetHidrawRootsForTests(linkedSys.c_str(), (root + "/dev").c_str());
    HANDLE board = OpenPath(DevPath(0));
    ASSERT_NE(board, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Attributes(board), "16C0:05DF 0100");
    EXPECT_EQ(ReadString(HidD_GetSerialNumberString, board), u"20240101");
    EXPECT_TRUE(CloseHandle(board));
}

}  // namespace
