// Discovery through the Linux hidraw backend over prepared sysfs trees of
// many hidraw entries: the time of one pass and what it allocates. The trees
// are laid out the way the kernel lays out USB HID devices (class link, the
// node below its HID device with its /sys/dev/char entry, the USB device
// above it with its attributes); regular files stand in for the /dev nodes,
// hidrawN carrying device number 240:N, so the IDs come from each node's
// uevent, as in the backend's tests.
//
// usage: rxb540-bench-hidraw ROOT PASSES COUNT...
// For each COUNT, lays out COUNT entries under ROOT (the last two are boards
// with the serial numbers "board-a" and "board-b"), runs PASSES listing passes
// and PASSES passes that select "board-b", and prints one line:
//   <count> <list median ns> <select median ns> <allocations per list pass>
//   <peak heap bytes of a list pass>
#include "board/device_identity.h"
#include "board/discovery.h"
#include "platform/linux/hidraw_test_roots.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

// Counts the heap use of the whole process, C library included, while
// g_counting is set: every allocation function is routed through these.
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
void __libc_free(void *pointer);
}

namespace {

bool g_counting = false;
long g_allocations = 0;
long g_liveBytes = 0;
long g_peakBytes = 0;

void CountAllocation(void *pointer) {
    if (g_counting && pointer != nullptr) {
        ++g_allocations;
        g_liveBytes += static_cast<long>(malloc_usable_size(pointer));
        g_peakBytes = std::max(g_peakBytes, g_liveBytes);
    }
}

void CountRelease(void *pointer) {
    if (g_counting && pointer != nullptr) {
        g_liveBytes -= static_cast<long>(malloc_usable_size(pointer));
    }
}

}  // namespace

extern "C" {

void *malloc(std::size_t size) {
    void *pointer = __libc_malloc(size);
    CountAllocation(pointer);
    return pointer;
}

void *calloc(std::size_t count, std::size_t size) {
    void *pointer = __libc_calloc(count, size);
    CountAllocation(pointer);
    return pointer;
}

void *realloc(void *pointer, std::size_t size) {
    CountRelease(pointer);
    void *moved = __libc_realloc(pointer, size);
    CountAllocation(moved);
    return moved;
}

void free(void *pointer) {
    CountRelease(pointer);
    __libc_free(pointer);
}

}  // extern "C"

namespace {

constexpr unsigned HIDRAW_MAJOR = 240;

// The minor number of each stand-in node, by its inode.
std::map<ino_t, unsigned> g_standInMinors;

bool StandInNumber(const struct stat &file, unsigned *major, unsigned *minor) {
    const auto found = g_standInMinors.find(file.st_ino);
    if (found == g_standInMinors.end()) {
        return false;
    }
    *major = HIDRAW_MAJOR;
    *minor = found->second;
    return true;
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// One USB HID device on its own port, with node hidraw<number>.
void AddUsbHidEntry(const std::string &root, int number, unsigned vendor, unsigned product,
                    const std::string &manufacturer, const std::string &productName,
                    const std::string &serial) {
    namespace fs = std::filesystem;
    const std::string port = "1-" + std::to_string(number + 1);
    const std::string usbDevice = "pci0000:00/0000:00:14.0/usb1/" + port;
    const std::string usbDir = root + "/sys/devices/" + usbDevice;
    const std::string hidDevice = usbDevice + "/" + port + ":1.0/0003:" + Hex(vendor, 4) + ":" +
                                  Hex(product, 4) + "." + Hex(static_cast<unsigned>(number + 1), 4);
    const std::string hidDir = root + "/sys/devices/" + hidDevice;
    const std::string name = "hidraw" + std::to_string(number);
    fs::create_directories(hidDir + "/hidraw/" + name);
    WriteFile(usbDir + "/idVendor", Hex(vendor, 4) + "\n");
    WriteFile(usbDir + "/idProduct", Hex(product, 4) + "\n");
    WriteFile(usbDir + "/bcdDevice", "0100\n");
    WriteFile(usbDir + "/manufacturer", manufacturer + "\n");
    WriteFile(usbDir + "/product", productName + "\n");
    WriteFile(usbDir + "/serial", serial + "\n");
    WriteFile(hidDir + "/uevent", "DRIVER=hid-generic\nHID_ID=0003:" + Hex(vendor, 8) + ":" +
                                      Hex(product, 8) + "\nHID_NAME=" + manufacturer + " " + productName +
                                      "\nHID_UNIQ=" + serial + "\nMODALIAS=hid:b0003\n");
    fs::create_symlink("../..", hidDir + "/hidraw/" + name + "/device");
    fs::create_symlink(root + "/sys/class/hidraw", hidDir + "/hidraw/" + name + "/subsystem");
    fs::create_symlink("../../devices/" + hidDevice + "/hidraw/" + name, root + "/sys/class/hidraw/" + name);
    fs::create_symlink("../../devices/" + hidDevice + "/hidraw/" + name,
                       root + "/sys/dev/char/" + std::to_string(HIDRAW_MAJOR) + ":" + std::to_string(number));
    const std::string node = root + "/dev/" + name;
    WriteFile(node, "");
    struct stat file;
    if (stat(node.c_str(), &file) == 0) {
        g_standInMinors[file.st_ino] = static_cast<unsigned>(number);
    }
}

// `count` entries: keyboards and mice of other makers, then two boards.
void LayOutHost(const std::string &root, int count) {
    std::filesystem::remove_all(root);
    g_standInMinors.clear();
    std::filesystem::create_directories(root + "/sys/class/hidraw");
    std::filesystem::create_directories(root + "/sys/dev/char");
    std::filesystem::create_directories(root + "/dev");
    const int boards = std::min(count, 2);
    for (int number = 0; number < count - boards; ++number) {
        const bool keyboard = number % 2 == 0;
        AddUsbHidEntry(root, number, keyboard ? 0x046D : 0x1BCF, keyboard ? 0xC31C : 0x0005,
                       keyboard ? "Logitech" : "PixArt", keyboard ? "USB Keyboard" : "USB Optical Mouse",
                       "S" + std::to_string(number));
    }
    const char *serials[] = {"board-a", "board-b"};
    for (int board = 0; board < boards; ++board) {
        AddUsbHidEntry(root, count - boards + board, RELAY_VENDOR_ID, RELAY_PRODUCT_ID, RELAY_MANUFACTURER,
                       RELAY_PRODUCT, serials[board]);
    }
}

std::int64_t NowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// One discovery pass; the handle of a selected board is closed again.
DeviceResult Pass(SerialSelector selector) {
    HidHandle handle = nullptr;
    const DeviceResult result = OpenHidDevice(&handle, RELAY_VENDOR_ID, RELAY_MANUFACTURER, RELAY_PRODUCT_ID,
                                              RELAY_PRODUCT, selector);
    if (result == DEVICE_OK) {
        CloseHandle(handle);
    }
    return result;
}

std::int64_t MedianPassNs(SerialSelector selector, int passes) {
    std::vector<std::int64_t> samples;
    samples.reserve(static_cast<std::size_t>(passes));
    for (int i = 0; i < passes; ++i) {
        const std::int64_t start = NowNs();
        Pass(selector);
        samples.push_back(NowNs() - start);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4 || std::atoi(argv[2]) < 1) {
        std::fprintf(stderr, "usage: %s ROOT PASSES COUNT...\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const int passes = std::atoi(argv[2]);
    // The listing goes to /dev/null; the results to the real standard output.
    std::fflush(stdout);
    const int results = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    FILE *out = fdopen(results, "w");
    if (results < 0 || null < 0 || out == nullptr || dup2(null, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "cannot redirect standard output\n");
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int count = std::atoi(argv[i]);
        LayOutHost(root, count);
        SetHidrawRootsForTests((root + "/sys").c_str(), (root + "/dev").c_str());
        SetHidrawStandInsForTests(StandInNumber);
        if (count >= 2 && Pass("board-b") != DEVICE_OK) {
            std::fprintf(stderr, "board-b not found among %d entries\n", count);
            return 1;
        }
        // One counted pass, after the first pass has made the backend's
        // lasting table of open descriptors.
        g_allocations = 0;
        g_liveBytes = 0;
        g_peakBytes = 0;
        g_counting = true;
        Pass(nullptr);
        g_counting = false;
        const long allocations = g_allocations;
        const long peakBytes = g_peakBytes;
        const std::int64_t listNs = MedianPassNs(nullptr, passes);
        const std::int64_t selectNs = MedianPassNs("board-b", passes);
        std::fflush(stdout);
        std::fprintf(out, "%d %lld %lld %ld %ld\n", count, static_cast<long long>(listNs),
                     static_cast<long long>(selectNs), allocations, peakBytes);
        std::fflush(out);
    }
    SetHidrawRootsForTests(nullptr, nullptr);
    SetHidrawStandInsForTests(nullptr);
    std::filesystem::remove_all(root);
    return 0;
}
