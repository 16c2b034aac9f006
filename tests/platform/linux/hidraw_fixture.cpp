#include "hidraw_fixture.h"

#include "board/device_identity.h"
#include "platform/linux/hidraw_test_roots.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <utility>

namespace hidraw_tests {
namespace {

// The regular files that stand in for nodes, by the file's (device, inode),
// with the device number each stands for: a hard link to a stand-in carries
// its number too. File systems hand the inode number of an unlinked file out
// again at once, so each stand-in also gets a modification time of its own in
// 1970, which a file made later under a reused inode number never has.
// Each entry: ((major, minor), the time mark).
std::map<std::pair<dev_t, ino_t>, std::pair<std::pair<unsigned, unsigned>, struct timespec>> g_standIns;
long g_standInsMade = 0;

bool StandInNumber(const struct stat &file, unsigned *major, unsigned *minor) {
    const auto found = g_standIns.find({file.st_dev, file.st_ino});
    if (found == g_standIns.end()) {
        return false;
    }
    const struct timespec &marker = found->second.second;
    if (file.st_mtim.tv_sec != marker.tv_sec || file.st_mtim.tv_nsec != marker.tv_nsec) {
        g_standIns.erase(found);
        return false;
    }
    *major = found->second.first.first;
    *minor = found->second.first.second;
    return true;
}

void WriteAttributeIfPresent(const std::string &path, const char *value) {
    if (value != nullptr) {
        WriteTextFile(path, std::string(value) + "\n");
    }
}

}  // namespace

void MakeDirs(const std::string &path) {
    std::filesystem::create_directories(path);
}

std::string NodeName(int number) {
    return "hidraw" + std::to_string(number);
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof(text), "%0*X", digits, value);
    return text;
}

void AddStandInNode(const std::string &path, unsigned major, unsigned minor) {
    WriteTextFile(path, "");
    ++g_standInsMade;
    const struct timespec marker = {1 + g_standInsMade / 1000, (g_standInsMade % 1000) * 1000};
    const struct timespec times[2] = {marker, marker};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat file;
    ASSERT_EQ(stat(path.c_str(), &file), 0);
    g_standIns[{file.st_dev, file.st_ino}] = {{major, minor}, marker};
}

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

std::string Attributes(HANDLE handle) {
    HIDD_ATTRIBUTES attributes;
    attributes.Size = sizeof(attributes);
    if (!HidD_GetAttributes(handle, &attributes)) {
        return "(read failed)";
    }
    return Hex(attributes.VendorID, 4) + ":" + Hex(attributes.ProductID, 4) + " " +
           Hex(attributes.VersionNumber, 4);
}

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

namespace {

BoardChoice KeepSerialLine(void *context, const char *, const char *serial) {
    *static_cast<std::string *>(context) += std::string(serial) + "\n";
    return BoardChoice::PASS_OVER;
}

}  // namespace

DeviceResult ListRelayBoards(std::string *serials) {
    serials->clear();
    HidHandle unused = nullptr;
    const BoardSearch listing = {nullptr, KeepSerialLine, serials};
    return SearchRelayBoards(&unused, listing);
}

void LinuxHidraw::SetUp() {
    root = MakeTempDir();
    ASSERT_FALSE(root.empty());
    MakeDirs(root + "/sys/class/hidraw");
    MakeDirs(root + "/dev");
    SetHidrawRootsForTests((root + "/sys").c_str(), (root + "/dev").c_str());
    SetHidrawStandInsForTests(StandInNumber);
}

void LinuxHidraw::TearDown() {
    SetHidrawRootsForTests(nullptr, nullptr);
    SetHidrawStandInsForTests(nullptr);
    g_standIns.clear();
    RemoveTree(root);
}

}  // namespace hidraw_tests
