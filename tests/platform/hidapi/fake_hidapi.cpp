#include "platform/hidapi/fake_hidapi.h"

#include <hidapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

// Used only through hidapi's typedef hid_device, which cppcheck does not
// follow back to this struct.
struct hid_device_ {
    // cppcheck-suppress unusedStructMember
    FakeHidDevice device;
    // cppcheck-suppress unusedStructMember
    hid_device_info *info;  // made on the first hid_get_device_info
};

namespace {

std::vector<FakeHidDevice> g_devices;
std::vector<std::string> g_opened;
std::vector<std::string> g_sent;
int g_openDevices = 0;
int g_liveEnumerations = 0;

wchar_t *CopyWide(const wchar_t *text) {
    if (text == nullptr) {
        return nullptr;
    }
    wchar_t *copy = static_cast<wchar_t *>(std::calloc(std::wcslen(text) + 1, sizeof(wchar_t)));
    std::wcscpy(copy, text);
    return copy;
}

hid_device_info *MakeInfo(const FakeHidDevice &device, unsigned short vendorId) {
    hid_device_info *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
    info->path = static_cast<char *>(std::calloc(device.path.size() + 1, 1));
    std::memcpy(info->path, device.path.c_str(), device.path.size());
    info->vendor_id = vendorId;
    info->product_id = device.productId;
    info->release_number = 0x0100;
    info->manufacturer_string = CopyWide(device.manufacturer);
    info->product_string = CopyWide(device.product);
    info->serial_number = CopyWide(device.serial);
    return info;
}

void FreeInfo(hid_device_info *info) {
    while (info != nullptr) {
        hid_device_info *next = info->next;
        std::free(info->path);
        std::free(info->manufacturer_string);
        std::free(info->product_string);
        std::free(info->serial_number);
        std::free(info);
        info = next;
    }
}

// As hidapi's hidraw variant: a missing string reads as an empty one.
int CopyString(const wchar_t *text, wchar_t *string, size_t maxlen) {
    std::wcsncpy(string, text != nullptr ? text : L"", maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

}  // namespace

void SetFakeHidDevices(const std::vector<FakeHidDevice> &devices) {
    g_devices = devices;
    g_opened.clear();
    g_sent.clear();
}

const std::vector<std::string> &FakeHidOpenedPaths() {
    return g_opened;
}

int FakeHidOpenDevices() {
    return g_openDevices;
}

int FakeHidLiveEnumerations() {
    return g_liveEnumerations;
}

const std::vector<std::string> &FakeHidSentReports() {
    return g_sent;
}

extern "C" {

int hid_init(void) {
    return 0;
}

int hid_exit(void) {
    return 0;
}

hid_device_info *hid_enumerate(unsigned short, unsigned short) {
    hid_device_info *first = nullptr;
    hid_device_info **link = &first;
    for (const FakeHidDevice &device : g_devices) {
        *link = MakeInfo(device, device.vendorId);
        link = &(*link)->next;
    }
    ++g_liveEnumerations;
    return first;
}

void hid_free_enumeration(hid_device_info *devices) {
    --g_liveEnumerations;
    FreeInfo(devices);
}

hid_device *hid_open_path(const char *path) {
    g_opened.push_back(path);
    for (const FakeHidDevice &device : g_devices) {
        if (device.path == path && device.opens) {
            ++g_openDevices;
            return new hid_device_{device, nullptr};
        }
    }
    return nullptr;
}

void hid_close(hid_device *dev) {
    --g_openDevices;
    FreeInfo(dev->info);
    delete dev;
}

hid_device_info *hid_get_device_info(hid_device *dev) {
    if (dev->info == nullptr) {
        const FakeHidDevice &device = dev->device;
        dev->info = MakeInfo(device, device.openedVendorId != 0 ? device.openedVendorId : device.vendorId);
    }
    return dev->info;
}

// As hidapi 0.13 and later do, the strings come from the device's info.
int hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return CopyString(hid_get_device_info(dev)->manufacturer_string, string, maxlen);
}

int hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return CopyString(hid_get_device_info(dev)->product_string, string, maxlen);
}

int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen) {
    return CopyString(hid_get_device_info(dev)->serial_number, string, maxlen);
}

int hid_send_feature_report(hid_device *dev, const unsigned char *data, size_t length) {
    std::string report = dev->device.path + ":";
    for (size_t i = 0; i < length; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", data[i]);
        report += hex;
    }
    g_sent.push_back(report);
    return static_cast<int>(length);
}

}  // extern "C"
