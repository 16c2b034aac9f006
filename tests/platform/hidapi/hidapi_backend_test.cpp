// The hidapi backend on a scripted hidapi (fake_hidapi.h): which devices
// discovery makes it open, what a string that a device lacks reads as, and
// that every handle and list is released.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board/discovery.h"
#include "platform/hid_platform.h"
#include "platform/hidapi/device_access.h"
#include "platform/hidapi/fake_hidapi.h"
#include "support/temp_dir.h"

namespace {

const std::uint16_t VID = 0x16c0;
const std::uint16_t PID = 0x05df;
const char MAKER[] = "maker.example";

const FakeHidDevice KEYBOARD = {"kbd:0", 0x046d, 0xc31c, L"Logitech", L"Keyboard", L"K1"};
const FakeHidDevice MOUSE = {"mouse:0", 0x046d, 0xc077, L"Logitech", L"Mouse", nullptr};

FakeHidDevice Board(const std::string &path, const wchar_t *serial) {
    return {path, VID, PID, L"maker.example", L"RXB540", serial};
}

FakeHidDevice Unopenable(FakeHidDevice device) {
    device.opens = false;
    return device;
}

FakeHidDevice Replaced(FakeHidDevice device) {
    device.openedVendorId = 0x1209;
    return device;
}

struct DiscoveryCase {
    const char *name;
    std::vector<FakeHidDevice> devices;
    const char *selector;  // null: listing
    DeviceResult result;
    std::string listed;
    std::vector<std::string> opened;  // hid_open_path calls, in order
};

// Only interfaces with the board's IDs are ever opened; a serial that the
// board lacks, or that hidapi gives as empty, is unreadable.
const DiscoveryCase DISCOVERY_CASES[] = {
    {"foreign devices stay closed",
     {KEYBOARD, Board("b:1", L"A1"), MOUSE},
     nullptr,
     DEVICE_NOT_FOUND,
     "A1\n",
     {"b:1"}},
    {"ANY takes the first board",
     {MOUSE, Board("b:1", L"A1"), Board("b:2", L"B2")},
     "ANY",
     DEVICE_OK,
     "",
     {"b:1"}},
    {"serial selects its board",
     {Board("b:1", L"A1"), KEYBOARD, Board("b:2", L"B2")},
     "B2",
     DEVICE_OK,
     "",
     {"b:1", "b:2"}},
    {"missing serial is unreadable", {Board("b:1", nullptr)}, nullptr, DEVICE_COMM_ERROR, "", {"b:1"}},
    {"empty serial is unreadable",
     {Board("b:1", L""), Board("b:2", L"B2")},
     "ANY",
     DEVICE_OK,
     "",
     {"b:1", "b:2"}},
    {"empty serial never matches", {Board("b:1", L"")}, "", DEVICE_COMM_ERROR, "", {"b:1"}},
    {"board that fails to open", {Unopenable(Board("b:1", L"A1"))}, "ANY", DEVICE_COMM_ERROR, "", {"b:1"}},
    {"board whose node is gone", {Board("/nonexistent/hidraw7", L"A1")}, "ANY", DEVICE_NOT_FOUND, "", {}},
    {"node taken by another device",
     {Board("b:2", L"B2"), Replaced(Board("b:1", L"A1"))},
     nullptr,
     DEVICE_COMM_ERROR,
     "B2\n",
     {"b:2", "b:1"}},
};

// Without a selector, keeps each serial number as a line; otherwise selects.
struct Listing {
    SerialSelector selector;
    std::string listed;
};
BoardChoice ListOrSelect(void *context, const char *, const char *serial) {
    Listing *listing = static_cast<Listing *>(context);
    if (listing->selector == nullptr) {
        listing->listed += std::string(serial) + "\n";
        return BoardChoice::PASS_OVER;
    }
    return SerialSelects(listing->selector, serial) ? BoardChoice::SELECT : BoardChoice::PASS_OVER;
}

TEST(HidapiBackend, DiscoveryOpensOnlyBoardsAndReadsMissingStringsAsUnreadable) {
    for (const DiscoveryCase &test : DISCOVERY_CASES) {
        SCOPED_TRACE(test.name);
        SetFakeHidDevices(test.devices);
        HidHandle handle = nullptr;
        Listing listing = {test.selector, ""};
        const BoardSearch search = {nullptr, ListOrSelect, &listing};
        EXPECT_EQ(SearchHidDevices(&handle, {VID, MAKER, PID, "RXB540"}, search), test.result);
        EXPECT_EQ(listing.listed, test.listed);
        EXPECT_EQ(FakeHidOpenedPaths(), test.opened);
        EXPECT_EQ(FakeHidLiveEnumerations(), 0);
        EXPECT_EQ(FakeHidOpenDevices(), test.result == DEVICE_OK ? 1 : 0);
        if (test.result == DEVICE_OK) {
            EXPECT_EQ(CloseHandle(handle), TRUE);
            EXPECT_EQ(FakeHidOpenDevices(), 0);
        }
    }
}

TEST(HidapiBackend, HandleOpensTheDeviceOnlyForStringsAndReports) {
    SetFakeHidDevices({KEYBOARD, Board("b:1", L"A1")});
    // No list is alive: the path is looked up in a new enumeration.
    HANDLE keyboard =
        CreateFileA("kbd:0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(keyboard, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES attributes = {sizeof attributes, 0, 0, 0};
    EXPECT_EQ(HidD_GetAttributes(keyboard, &attributes), TRUE);
    EXPECT_EQ(attributes.VendorID, 0x046d);
    EXPECT_EQ(attributes.ProductID, 0xc31c);
    EXPECT_EQ(attributes.VersionNumber, 0x0100);
    EXPECT_EQ(attributes.Size, sizeof attributes);
    EXPECT_EQ(CloseHandle(keyboard), TRUE);
    EXPECT_EQ(CloseHandle(keyboard), FALSE);
    EXPECT_EQ(FakeHidOpenedPaths(), std::vector<std::string>{});
    EXPECT_EQ(FakeHidLiveEnumerations(), 0);

    EXPECT_EQ(CreateFileA("b:9", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    HANDLE board = CreateFileA("b:1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(board, INVALID_HANDLE_VALUE);
    unsigned char report[3] = {0, 0x31, 0x05};
    EXPECT_EQ(HidD_SetFeature(board, nullptr, sizeof report), FALSE);
    EXPECT_EQ(HidD_GetSerialNumberString(board, nullptr, 512), FALSE);
    EXPECT_EQ(FakeHidOpenedPaths(), std::vector<std::string>{}) << "a refused call opened the device";
    EXPECT_EQ(HidD_SetFeature(board, report, sizeof report), TRUE);
    char16_t serial[8] = {};
    EXPECT_EQ(HidD_GetSerialNumberString(board, serial, sizeof serial), TRUE);
    EXPECT_EQ(std::u16string(serial), u"A1");
    EXPECT_EQ(FakeHidOpenedPaths(), std::vector<std::string>{"b:1"}) << "one open serves every call";
    EXPECT_EQ(FakeHidSentReports(), std::vector<std::string>{"b:1:003105"});
    EXPECT_EQ(CloseHandle(board), TRUE);
    EXPECT_EQ(FakeHidOpenDevices(), 0);
}

// hidapi's libusb variant names a USB device as the kernel does; the node it
// opens is that device's usbfs node.
TEST(HidapiDeviceAccess, FindsTheNodeThatHidapiOpens) {
    const std::string sys = MakeTempDir();
    const std::string devices = sys + "/bus/usb/devices";
    for (const std::string &dir :
         {sys + "/bus", sys + "/bus/usb", devices, devices + "/1-1.4", devices + "/2-1"}) {
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
    }
    const auto write = [](const std::string &path, const char *text) {
        std::FILE *file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr) << path;
        std::fputs(text, file);
        std::fclose(file);
    };
    write(devices + "/1-1.4/busnum", "1\n");
    write(devices + "/1-1.4/devnum", "12\n");
    write(devices + "/2-1/busnum", "2\n");
    write(devices + "/2-1/devnum", "x\n");
    const struct {
        const char *path;
        const char *node;  // null: no node can be told
    } cases[] = {
        {"/dev/hidraw3", "/dev/hidraw3"},
        {"1-1.4:1.0", "/dev/bus/usb/001/012"},
        {"2-1:1.0", nullptr},  // devnum is no number
        {"3-1:1.0", nullptr},  // not in sysfs
        {"1-1.4", nullptr},
        {"1-1.:1.0", nullptr},
        {"1--1:1.0", nullptr},
        {"-1:1.0", nullptr},
        {"1-1-4:1.0", nullptr},
        {"../../x-1:1.0", nullptr},
        {"DevSrvsID:4294969403", nullptr},
        {"", nullptr},
    };
    for (const auto &test : cases) {
        char node[32] = "unchanged";
        EXPECT_EQ(FindDeviceNode(sys.c_str(), test.path, node, sizeof node), test.node != nullptr)
            << test.path;
        EXPECT_STREQ(node, test.node != nullptr ? test.node : "unchanged") << test.path;
    }
    char small[8];
    EXPECT_FALSE(FindDeviceNode(sys.c_str(), "1-1.4:1.0", small, sizeof small));
    EXPECT_FALSE(MayOpenDevice("/nonexistent/hidraw0"));
    EXPECT_TRUE(MayOpenDevice("DevSrvsID:4294969403"));

    // The attachment: the libusb variant's node, numbered anew when the
    // device is enumerated anew; for a node, the name of its HID device
    // (/dev/null, character device 1:3, stands in for a hidraw node).
    char attachment[32] = "unchanged";
    EXPECT_FALSE(FindDeviceAttachment(sys.c_str(), "/dev/null", attachment, sizeof attachment));
    EXPECT_FALSE(FindDeviceAttachment(sys.c_str(), "/nonexistent/hidraw0", attachment, sizeof attachment));
    EXPECT_STREQ(attachment, "unchanged");
    const std::string hid = sys + "/0003:16C0:05DF.0009";
    for (const std::string &dir : {hid, sys + "/dev", sys + "/dev/char", sys + "/dev/char/1:3"}) {
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
    }
    ASSERT_EQ(symlink(hid.c_str(), (sys + "/dev/char/1:3/device").c_str()), 0);
    ASSERT_TRUE(FindDeviceAttachment(sys.c_str(), "/dev/null", attachment, sizeof attachment));
    EXPECT_STREQ(attachment, "0003:16C0:05DF.0009");
    EXPECT_FALSE(FindDeviceAttachment(sys.c_str(), "/dev/null", attachment, 19)) << "no room for the zero";
    ASSERT_TRUE(FindDeviceAttachment(sys.c_str(), "1-1.4:1.0", attachment, sizeof attachment));
    EXPECT_STREQ(attachment, "/dev/bus/usb/001/012");
    write(devices + "/1-1.4/devnum", "13\n");
    ASSERT_TRUE(FindDeviceAttachment(sys.c_str(), "1-1.4:1.0", attachment, sizeof attachment));
    EXPECT_STREQ(attachment, "/dev/bus/usb/001/013");
    RemoveTree(sys);
}

}  // namespace
