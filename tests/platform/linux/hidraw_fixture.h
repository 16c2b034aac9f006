// What the tests of the hidraw backend share: sysfs trees and device folders
// that each test lays out in a temporary folder the way the kernel lays them
// out, and the backend's calls made the way discovery makes them. The class
// folder links to the node below its HID device, the node's "device" link
// leads back to that HID device, /sys/dev/char/MAJ:MIN leads to the node by
// its device number, and USB devices above it carry the string attributes.
// Regular files stand in for the /dev nodes, each carrying a device number
// that the tests give it (hidrawN: 240:N), so the requests that need a real
// hidraw node fail on them; those are exercised on real nodes by the
// end-to-end run in a virtual machine.
#ifndef RXB540_TESTS_PLATFORM_LINUX_HIDRAW_FIXTURE_H
#define RXB540_TESTS_PLATFORM_LINUX_HIDRAW_FIXTURE_H

#include "board/discovery.h"
#include "platform/hid_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hidraw_tests {

constexpr ULONG STRING_BUFFER_BYTES = 512;
inline const std::u16string READ_FAILED = u"(read failed)";
constexpr unsigned HIDRAW_MAJOR = 240;

struct UsbStrings {
    const char *manufacturer;  // null: the attribute is absent
    const char *product;
    const char *serial;
};

void MakeDirs(const std::string &path);

std::string NodeName(int number);

std::string Hex(unsigned value, int digits);

// A regular file at `path` standing in for a node of device major:minor.
void AddStandInNode(const std::string &path, unsigned major, unsigned minor);

// Lays out the class device `name` of class `className` below `deviceDir`
// (relative to sys/devices) and its /sys/dev/char entry for major:minor.
void AddCharDeviceEntry(const std::string &root, const std::string &deviceDir, const std::string &className,
                        const std::string &name, unsigned major, unsigned minor);

// Lays out hidrawN (device 240:N) below the HID device folder `hidDevice`
// (relative to sys/devices) with the given uevent, links it from the class
// folder and from /sys/dev/char, and puts a stand-in in place of the /dev
// node.
void AddHidrawNode(const std::string &root, int number, const std::string &hidDevice,
                   const std::string &uevent);

std::string HidUevent(unsigned bus, unsigned vendor, unsigned product, const std::string &name,
                      const std::string &uniq);

void AddUsbDevice(const std::string &dir, unsigned vendor, unsigned product, const UsbStrings &strings);

// A USB HID device on port `port` of the first root hub, whose HID interface
// has node hidrawN. The root hub carries strings of its own, which a node
// must never report.
void AddUsbHidNode(const std::string &root, int number, int port, unsigned vendor, unsigned product,
                   const UsbStrings &strings);

void AddRelayBoard(const std::string &root, int number, const char *serial);

std::u16string RelayManufacturer();

HDEVINFO OpenHidList();

// Walks the list with the two-call detail protocol, as discovery does.
std::vector<std::string> InterfacePaths(HDEVINFO list);

HANDLE OpenPath(const std::string &path);

// "vendor:product version" in hexadecimal, or "(read failed)".
std::string Attributes(HANDLE handle);

typedef BOOLEAN (*StringCall)(HANDLE, PVOID, ULONG);

// The string a call gives in a 512-byte buffer, or READ_FAILED.
std::u16string ReadString(StringCall call, HANDLE handle);

DeviceResult FindRelayBoard(HidHandle *handle, SerialSelector selector);

// A pass that selects no board: the serial numbers of the boards it met, one
// a line, in *serials.
DeviceResult ListRelayBoards(std::string *serials);

// Points the backend at a fresh temporary tree with an empty class folder,
// and regular files standing in for nodes; puts everything back afterwards.
struct LinuxHidraw : ::testing::Test {
    std::string root;

    void SetUp() override;
    void TearDown() override;

    std::string DevPath(int number) const {
        return root + "/dev/" + NodeName(number);
    }
};

}  // namespace hidraw_tests

#endif  // RXB540_TESTS_PLATFORM_LINUX_HIDRAW_FIXTURE_H
