// A scripted hidapi for the hidapi backend's tests: the host's HID devices
// are a table, and every device that the backend opens is counted.
#ifndef RXB540_TESTS_PLATFORM_HIDAPI_FAKE_HIDAPI_H
#define RXB540_TESTS_PLATFORM_HIDAPI_FAKE_HIDAPI_H

#include <string>
#include <vector>

struct FakeHidDevice {
    std::string path;
    unsigned short vendorId;
    unsigned short productId;
    // Null: the device has no such string.
    const wchar_t *manufacturer;
    const wchar_t *product;
    const wchar_t *serial;
    bool opens = true;  // hid_open_path succeeds
    // The IDs of the device that hid_open_path reaches, when another device
    // took the listed one's node; 0 for the listed IDs.
    unsigned short openedVendorId = 0;
};

// Replaces the host's devices and forgets what was opened and sent.
void SetFakeHidDevices(const std::vector<FakeHidDevice> &devices);

// The path of every hid_open_path call, in order.
const std::vector<std::string> &FakeHidOpenedPaths();

// Devices opened and not yet closed; enumerations not yet freed.
int FakeHidOpenDevices();
int FakeHidLiveEnumerations();

// "PATH:HEX" for every feature report sent.
const std::vector<std::string> &FakeHidSentReports();

#endif  // RXB540_TESTS_PLATFORM_HIDAPI_FAKE_HIDAPI_H
