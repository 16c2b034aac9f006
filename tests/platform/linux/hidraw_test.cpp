// The hidraw backend against sysfs trees and device folders that each test
// lays out in a temporary folder the way the kernel lays them out: the class
// folder links to the node below its HID device, the node's "device" link
// leads back to that HID device, /sys/dev/char/MAJ:MIN leads to the node by
// its device number, and USB devices above it carry the string attributes.
// Regular files stand in for the /dev nodes, each carrying a device number
// that the tests give it (hidrawN: 240:N), so the requests that need a real
// hidraw node fail on them; those are exercised on real nodes by the
// end-to-end run in a virtual machine.
#include "board/device_identity.h"
#include "board/discovery.h"
#include "platform/hid_platform.h"
#include "platform/linux/hidraw_test_roots.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

const ULONG STRING_BUFFER_BYTES = 512;
const std::u16string READ_FAILED = u"(read failed)";
const unsigned HIDRAW_MAJOR = 240;

// The device numbers of the regular files that stand in for nodes, by the
// file's (device, inode): a hard link to a stand-in carries its number too.
std::map<std::pair<dev_t, ino_t>, std::pair<unsigned, unsigned>> g_standIns;

bool StandInNumber(const struct stat &file, unsigned *major, unsigned *minor) {
    const auto found = g_standIns.find({file.st_dev, file.st_ino});
    if (found == g_standIns.end()) {
        return false;
    }
    *major = found->second.first;
    *minor = found->second.second;
    return true;
}

struct UsbStrings {
    const char *manufacturer;  // null: the attribute is absent
    const char *product;
    const char *serial;
};

void MakeDirs(const std::string &path) {
    std::filesystem::create_directories(path);
}

void WriteAttributeIfPresent(const std::string &path, const char *value) {
    if (value != nullptr) {
        WriteTextFile(path, std::string(value) + "\n");
    }
}

std::string NodeName(int number) {
    return "hidraw" + std::to_string(number);
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof(text), "%0*X", digits, value);
    return text;
}

// A regular file at `path` standing in for a node of device major:minor.
void AddStandInNode(const std::string &path, unsigned major, unsigned minor) {
    WriteTextFile(path, "");
    struct stat file;
    ASSERT_EQ(stat(path.c_str(), &file), 0);
    g_standIns[{file.st_dev, file.st_ino}] = {major, minor};
}

// Lays out the class device `name` of class `className` below `deviceDir`
// (relative to sys/devices) and its /sys/dev/char entry for major:minor.
void AddCharDeviceEntry(const std::string &root, const std::string &deviceDir, const std::string &className,
                        const std::string &name, unsigned major, unsigned minor) {
    const std::string entry = deviceDir + "/" + name;
    MakeDirs(root + "/sys/devices/" + entry);
    MakeDirs(root + "/sys/class/" + className);
    MakeDirs(root + "/sys/dev/char");
    ASSERT_EQ(symlink((root + "/sys/class/" + className).c_str(),
                      (root + "/sys/devices/" + entry + "/subsystem").c_str()),
              0);
    const std::string charLink =
        root + "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor);
    ASSERT_EQ(symlink(("../../devices/" + entry).c_str(), charLink.c_str()), 0);
}

// Lays out hidrawN (device 240:N) below the HID device folder `hidDevice`
// (relative to sys/devices) with the given uevent, links it from the class
// folder and from /sys/dev/char, and puts a stand-in in place of the /dev
// node.
void AddHidrawNode(const std::string &root, int number, const std::string &hidDevice,
                   const std::string &uevent) {
    const std::string name = NodeName(number);
    const std::string hidDir = root + "/sys/devices/" + hidDevice;
    const auto minor = static_cast<unsigned>(number);
    AddCharDeviceEntry(root, hidDevice + "/hidraw", "hidraw", name, HIDRAW_MAJOR, minor);
    WriteTextFile(hidDir + "/uevent", uevent);
    ASSERT_EQ(symlink("../..", (hidDir + "/hidraw/" + name + "/device").c_str()), 0);
    const std::string classLink = root + "/sys/class/hidraw/" + name;
    ASSERT_EQ(symlink(("../../devices/" + hidDevice + "/hidraw/" + name).c_str(), classLink.c_str()), 0);
    AddStandInNode(root + "/dev/" + name, HIDRAW_MAJOR, minor);
}

std::string HidUevent(unsigned bus, unsigned vendor, unsigned product, const std::string &name,
                      const std::string &uniq) {
    return "DRIVER=hid-generic\nHID_ID=" + Hex(bus, 4) + ":" + Hex(vendor, 8) + ":" + Hex(product, 8) +
           "\nHID_NAME=" + name + "\nHID_UNIQ=" + uniq + "\nMODALIAS=hid:b" + Hex(bus, 4) + "\n";
}

void AddUsbDevice(const std::string &dir, unsigned vendor, unsigned product, const UsbStrings &strings) {
    MakeDirs(dir);
    WriteTextFile(dir + "/idVendor", Hex(vendor, 4) + "\n");
    WriteTextFile(dir + "/idProduct", Hex(product, 4) + "\n");
    WriteTextFile(dir + "/bcdDevice", "0100\n");
    WriteAttributeIfPresent(dir + "/manufacturer", strings.manufacturer);
    WriteAttributeIfPresent(dir + "/product", strings.product);
    WriteAttributeIfPresent(dir + "/serial", strings.serial);
}

// A USB HID device on port `port` of the first root hub, whose HID interface
// has node hidrawN. The root hub carries strings of its own, which a node
// must never report.
void AddUsbHidNode(const std::string &root, int number, int port, unsigned vendor, unsigned product,
                   const UsbStrings &strings) {
    const std::string hub = "pci0000:00/0000:00:14.0/usb1";
    AddUsbDevice(root + "/sys/devices/" + hub, 0x1D6B, 0x0002,
                 {"Linux Foundation", "xHCI Host Controller", "hub"});
    const std::string usbDevice = hub + "/1-" + std::to_string(port);
    AddUsbDevice(root + "/sys/devices/" + usbDevice, vendor, product, strings);
    const std::string interface = usbDevice + "/1-" + std::to_string(port) + ":1.0";
    const std::string hidDevice =
        interface + "/0003:" + Hex(vendor, 4) + ":" + Hex(product, 4) + ".000" + std::to_string(number);
    const std::string name = std::string(strings.manufacturer ? strings.manufacturer : "") + " " +
                             (strings.product ? strings.product : "");
    AddHidrawNode(root, number, hidDevice,
                  HidUevent(0x0003, vendor, product, name, strings.serial ? strings.serial : ""));
}

void AddRelayBoard(const std::string &root, int number, const char *serial) {
    AddUsbHidNode(root, number, number + 1, RELAY_VENDOR_ID, RELAY_PRODUCT_ID,
                  {RELAY_MANUFACTURER, RELAY_PRODUCT, serial});
}

std::u16string RelayManufacturer() {
    return std::u16string(RELAY_MANUFACTURER, RELAY_MANUFACTURER + std::strlen(RELAY_MANUFACTURER));
}

HDEVINFO OpenHidList() {
    GUID guid;
    HidD_GetHidGuid(&guid);
    return SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

// Walks the list with the two-call detail protocol, as discovery does.
std::vector<std::string> InterfacePaths(HDEVINFO list) {
    GUID guid;
    HidD_GetHidGuid(&guid);
    std::vector<std::string> paths;
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &guid, index, &data); ++index) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr);
        std::vector<unsigned char> buffer(required);
        auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
        paths.push_back(detail->DevicePath);
    }
    return paths;
}

HANDLE OpenPath(const std::string &path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// "vendor:product version" in hexadecimal, or "(read failed)".
std::string Attributes(HANDLE handle) {
    HIDD_ATTRIBUTES attributes;
    attributes.Size = sizeof(attributes);
    if (!HidD_GetAttributes(handle, &attributes)) {
        return "(read failed)";
    }
    return Hex(attributes.VendorID, 4) + ":" + Hex(attributes.ProductID, 4) + " " +
           Hex(attributes.VersionNumber, 4);
}

typedef BOOLEAN (*StringCall)(HANDLE, PVOID, ULONG);

// The string a call gives in a 512-byte buffer, or READ_FAILED.
std::u16string ReadString(StringCall call, HANDLE handle) {
    char16_t buffer[STRING_BUFFER_BYTES / sizeof(char16_t)];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    if (!call(handle, buffer, STRING_BUFFER_BYTES)) {
        return READ_FAILED;
    }
    char16_t *end = std::find(std::begin(buffer), std::end(buffer), u'\0');
    EXPECT_NE(end, std::end(buffer)) << "no zero unit in the buffer";
    return std::u16string(buffer, end);
}

DeviceResult FindRelayBoard(HidHandle *handle, SerialSelector selector) {
    return OpenHidDevice(handle, RELAY_VENDOR_ID, RELAY_MANUFACTURER, RELAY_PRODUCT_ID, RELAY_PRODUCT,
                         selector);
}

struct LinuxHidraw : ::testing::Test {
    std::string root;

    void SetUp() override {
        root = MakeTempDir();
        ASSERT_FALSE(root.empty());
        MakeDirs(root + "/sys/class/hidraw");
        MakeDirs(root + "/dev");
        SetHidrawRootsForTests((root + "/sys").c_str(), (root + "/dev").c_str());
        SetHidrawStandInsForTests(StandInNumber);
    }

    void TearDown() override {
        SetHidrawRootsForTests(nullptr, nullptr);
        SetHidrawStandInsForTests(nullptr);
        g_standIns.clear();
        RemoveTree(root);
    }

    std::string DevPath(int number) const {
        return root + "/dev/" + NodeName(number);
    }
};

TEST_F(LinuxHidraw, ListsNodesInNumericOrderAsTheyWereWhenTheListWasMade) {
    AddRelayBoard(root, 10, "A");
    AddRelayBoard(root, 2, "B");
    AddRelayBoard(root, 1, "C");
    HDEVINFO list = OpenHidList();
    AddRelayBoard(root, 3, "D");
    ASSERT_EQ(unlink((root + "/sys/class/hidraw/hidraw10").c_str()), 0);

    EXPECT_EQ(InterfacePaths(list), (std::vector<std::string>{DevPath(1), DevPath(2), DevPath(10)}));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));

    HDEVINFO later = OpenHidList();
    EXPECT_EQ(InterfacePaths(later), (std::vector<std::string>{DevPath(1), DevPath(2), DevPath(3)}));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(later));
}

TEST_F(LinuxHidraw, ListIsEmptyWithoutTheClassFolderOrForAnotherOrNoClass) {
    AddRelayBoard(root, 0, "A");
    GUID otherClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    for (const GUID *classGuid :
         {static_cast<const GUID *>(&otherClass), static_cast<const GUID *>(nullptr)}) {
        HDEVINFO otherList =
            SetupDiGetClassDevsA(classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(otherList, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(InterfacePaths(otherList).empty());
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(otherList));
    }
    HidD_GetHidGuid(nullptr);  // ignored, not written through

    // No hidraw driver loaded, or no sysfs at all (a chroot): no interfaces.
    RemoveTree(root + "/sys/class");
    for (const std::string &sysfs : {root + "/sys", root + "/no-sys"}) {
        SetHidrawRootsForTests(sysfs.c_str(), (root + "/dev").c_str());
        HDEVINFO list = OpenHidList();
        ASSERT_NE(list, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(InterfacePaths(list).empty());
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    }
}

// A class folder that is there but cannot be read is a failure with the
// system's cause, never an empty host. Tests run as root, whom permissions do
// not stop, so the folder is made unreadable by what is in its place.
TEST_F(LinuxHidraw, ListThatCannotBeMadeFailsWithTheCause) {
    const std::string classDir = root + "/sys/class/hidraw";
    const struct {
        const char *what;
        void (*make)(const std::string &path);
        int cause;
    } cases[] = {
        {"a file", [](const std::string &path) { WriteTextFile(path, ""); }, ENOTDIR},
        {"a link to itself", [](const std::string &path) { ASSERT_EQ(symlink("hidraw", path.c_str()), 0); },
         ELOOP},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(classDir);
        c.make(classDir);
        errno = 0;
        EXPECT_EQ(OpenHidList(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(errno, c.cause);
        HidHandle handle = nullptr;
        EXPECT_EQ(FindRelayBoard(&handle, "ANY"), DEVICE_LIST_FAILED);
        EXPECT_EQ(handle, nullptr);
    }
}

TEST_F(LinuxHidraw, DetailReportsItsSizeFirstAndChecksTheHeaderSize) {
    AddRelayBoard(root, 7, "A");
    HDEVINFO list = OpenHidList();
    GUID guid;
    HidD_GetHidGuid(&guid);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data) + 4;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, nullptr, 0, &data));
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));

    const std::string path = DevPath(7);
    const auto expected =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr));
    ASSERT_EQ(required, expected);

    const unsigned char untouched = 0xEE;
    std::vector<unsigned char> buffer(required + 8, untouched);
    auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = required;  // the buffer's size instead of the header's
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(buffer[required - 1], untouched);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::string(detail->DevicePath), path);
    EXPECT_EQ(buffer[required], untouched);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

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

        ::testing::internal::CaptureStdout();
        HidHandle handle = nullptr;
        EXPECT_EQ(FindRelayBoard(&handle, nullptr), DEVICE_NOT_FOUND);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.listing);
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

// Paths are built in fixed buffers: roots too long for any path find nothing
// and write nothing past a buffer; a class folder that cannot be named fails
// the list.
TEST_F(LinuxHidraw, RootsTooLongForAPathFindNothing) {
    AddRelayBoard(root, 0, "A");
    const std::string tooLong = root + "/" + std::string(5000, 'x');
    SetHidrawRootsForTests(tooLong.c_str(), (root + "/dev").c_str());
    errno = 0;
    EXPECT_EQ(OpenHidList(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(errno, ENAMETOOLONG);

    SetHidrawRootsForTests((root + "/sys").c_str(), tooLong.c_str());
    HDEVINFO list = OpenHidList();
    GUID guid;
    HidD_GetHidGuid(&guid);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(required, 0u) << "no size for a path that cannot be built";
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    HidHandle handle = nullptr;
    EXPECT_EQ(FindRelayBoard(&handle, "ANY"), DEVICE_NOT_FOUND);
}

// Discovery, unchanged, on top of this backend: boards in node order, the
// ones that cannot be opened or read passed over.
TEST_F(LinuxHidraw, DiscoveryFindsTheBoardsThroughThisBackend) {
    AddRelayBoard(root, 10, "B");
    AddRelayBoard(root, 2, "A");
    AddRelayBoard(root, 1, nullptr);
    AddRelayBoard(root, 3, "C");
    ASSERT_EQ(unlink(DevPath(3).c_str()), 0);
    AddUsbHidNode(root, 0, 9, 0x1234, 0x5678, {RELAY_MANUFACTURER, RELAY_PRODUCT, "D"});

    ::testing::internal::CaptureStdout();
    HidHandle handle = nullptr;
    EXPECT_EQ(FindRelayBoard(&handle, nullptr), DEVICE_NOT_FOUND);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "A\nB\n");

    const struct {
        const char *selector;
        const char16_t *serial;
    } selections[] = {{"B", u"B"}, {"ANY", u"A"}};
    for (const auto &selection : selections) {
        ASSERT_EQ(FindRelayBoard(&handle, selection.selector), DEVICE_OK);
        EXPECT_EQ(ReadString(HidD_GetSerialNumberString, handle), selection.serial);
        EXPECT_TRUE(CloseHandle(handle));
    }
    EXPECT_EQ(FindRelayBoard(&handle, "C"), DEVICE_NOT_FOUND);
}

}  // namespace
