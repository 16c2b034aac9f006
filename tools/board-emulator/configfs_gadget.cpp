#include "configfs_gadget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// A vendor-defined collection with one 16-byte feature report and no report
// ID, the shape of the board's interface.
const unsigned char BOARD_REPORT_DESCRIPTOR[] = {
    0x06, 0x00, 0xff,  // Usage Page (vendor defined 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xa1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xff, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x10,        //   Report Count (16)
    0x09, 0x00,        //   Usage (0)
    0xb1, 0x02,        //   Feature (Data, Variable, Absolute)
    0xc0,              // End Collection
};

const char FUNCTION_NAME[] = "hid.board";
const char CONFIG_NAME[] = "c.1";
const char LANGUAGE_FOLDER[] = "0x409";  // US English

bool Fail(std::string *error, const std::string &what) {
    *error = what + ": " + std::strerror(errno);
    return false;
}

bool WriteBytes(const std::string &path, const void *data, std::size_t length, std::string *error) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return Fail(error, "cannot open " + path);
    }
    ssize_t written = write(fd, data, length);
    int writeErrno = errno;
    close(fd);
    if (written != static_cast<ssize_t>(length)) {
        errno = written < 0 ? writeErrno : EIO;
        return Fail(error, "cannot write " + path);
    }
    return true;
}

bool WriteText(const std::string &path, const std::string &text, std::string *error) {
    return WriteBytes(path, text.data(), text.size(), error);
}

// Reads at most maxBytes of a small sysfs or configfs attribute, without its
// line end.
std::string ReadAttribute(const std::string &path, std::size_t maxBytes) {
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buffer[256];
    ssize_t got = read(fd, buffer, std::min(maxBytes, sizeof buffer));
    close(fd);
    if (got > 0) {
        text.assign(buffer, static_cast<std::size_t>(got));
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

bool MakeFolder(const std::string &path, std::string *error) {
    if (mkdir(path.c_str(), 0755) != 0) {
        return Fail(error, "cannot create " + path);
    }
    return true;
}

std::string HexText(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xffffu);
    return text;
}

bool WriteDeviceAttributes(const std::string &dir, const GadgetDescription &description, std::string *error) {
    std::string strings = dir + "/strings/" + LANGUAGE_FOLDER;
    return WriteText(dir + "/idVendor", HexText(description.vendorId), error) &&
           WriteText(dir + "/idProduct", HexText(description.productId), error) &&
           WriteText(dir + "/bcdDevice", "0x0100", error) && WriteText(dir + "/bcdUSB", "0x0200", error) &&
           MakeFolder(strings, error) &&
           WriteText(strings + "/manufacturer", description.manufacturer, error) &&
           WriteText(strings + "/product", description.product, error) &&
           // Without a serial the string stays unset: the host finds no
           // serial number string to read.
           (description.serial.empty() || WriteText(strings + "/serialnumber", description.serial, error));
}

bool WriteHidFunction(const std::string &function, bool refusesReports, std::string *error) {
    return MakeFolder(function, error) && WriteText(function + "/protocol", "0", error) &&
           WriteText(function + "/subclass", "0", error) &&
           WriteText(function + "/report_length", "16", error) &&
           // With an OUT endpoint the function answers SET_REPORT on the
           // control pipe with a stall (a refusing board wants exactly that);
           // without one it hands the report to the reader of the hidg node.
           WriteText(function + "/no_out_endpoint", refusesReports ? "0" : "1", error) &&
           WriteBytes(function + "/report_desc", BOARD_REPORT_DESCRIPTOR, sizeof BOARD_REPORT_DESCRIPTOR,
                      error);
}

bool WriteConfiguration(const std::string &dir, std::string *error) {
    std::string config = dir + "/configs/" + CONFIG_NAME;
    std::string function = dir + "/functions/" + FUNCTION_NAME;
    if (!MakeFolder(config, error) || !WriteText(config + "/MaxPower", "100", error)) {
        return false;
    }
    if (symlink(function.c_str(), (config + "/" + FUNCTION_NAME).c_str()) != 0) {
        return Fail(error, "cannot link " + function + " into " + config);
    }
    return true;
}

// The hidg node's minor number, from the function's "dev" attribute
// ("major:minor").
std::string HidgPath(const std::string &function) {
    std::string dev = ReadAttribute(function + "/dev", 32);
    std::string::size_type colon = dev.find(':');
    if (colon == std::string::npos || colon + 1 == dev.size() ||
        dev.find_first_not_of("0123456789", colon + 1) != std::string::npos) {
        return std::string();
    }
    return "/dev/hidg" + dev.substr(colon + 1);
}

long long NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMs(long ms) {
    timespec pause = {ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
}

// Splits "dummy_udc.10" into "dummy_udc." and 10 so that numbered
// controllers sort by number.
bool NaturalLess(const std::string &a, const std::string &b) {
    std::string::size_type aDigits = a.find_last_not_of("0123456789") + 1;
    std::string::size_type bDigits = b.find_last_not_of("0123456789") + 1;
    std::string aStem = a.substr(0, aDigits);
    std::string bStem = b.substr(0, bDigits);
    if (aStem != bStem || aDigits == a.size() || bDigits == b.size()) {
        return a < b;
    }
    std::string aNumber = a.substr(aDigits);
    std::string bNumber = b.substr(bDigits);
    if (aNumber.size() != bNumber.size()) {
        return aNumber.size() < bNumber.size();
    }
    return aNumber < bNumber;
}

}  // namespace

bool CreateGadget(const std::string &configfsRoot, const std::string &name,
                  const GadgetDescription &description, Gadget *gadget, std::string *error) {
    *gadget = Gadget{description, configfsRoot + "/" + name, std::string(), std::string(), -1, false, false};
    if (mkdir(gadget->dir.c_str(), 0755) != 0) {
        // Never adopt or remove a folder that someone else made.
        gadget->dir.clear();
        return Fail(error, "cannot create gadget " + configfsRoot + "/" + name);
    }
    std::string function = gadget->dir + "/functions/" + FUNCTION_NAME;
    if (!WriteDeviceAttributes(gadget->dir, description, error) ||
        !WriteHidFunction(function, description.refusesReports, error) ||
        !WriteConfiguration(gadget->dir, error)) {
        RemoveGadget(gadget);
        return false;
    }
    gadget->hidgPath = HidgPath(function);
    if (gadget->hidgPath.empty()) {
        *error = "cannot read the hidg device number from " + function + "/dev";
        RemoveGadget(gadget);
        return false;
    }
    return true;
}

bool BindGadget(Gadget *gadget, const std::string &udc, std::string *error) {
    if (!WriteText(gadget->dir + "/UDC", udc, error)) {
        return false;
    }
    gadget->udc = udc;
    return true;
}

bool UnbindGadget(Gadget *gadget, std::string *error) {
    if (!WriteText(gadget->dir + "/UDC", "\n", error)) {
        return false;
    }
    gadget->udc.clear();
    return true;
}

bool WriteGadgetSerial(Gadget *gadget, const std::string &serial, std::string *error) {
    if (!WriteText(gadget->dir + "/strings/" + LANGUAGE_FOLDER + "/serialnumber", serial, error)) {
        return false;
    }
    gadget->description.serial = serial;
    return true;
}

bool OpenGadgetNode(Gadget *gadget, int timeoutMs, std::string *error) {
    long long deadline = NowMs() + timeoutMs;
    for (;;) {
        gadget->fd = open(gadget->hidgPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (gadget->fd >= 0) {
            return true;
        }
        if (errno != ENOENT || NowMs() >= deadline) {
            return Fail(error, "cannot open " + gadget->hidgPath);
        }
        SleepMs(20);
    }
}

void CloseGadgetNode(Gadget *gadget) {
    if (gadget->fd >= 0) {
        close(gadget->fd);
        gadget->fd = -1;
    }
}

bool WaitUntilConfigured(const std::string &udcClassDir, const std::string &udc, int timeoutMs) {
    long long deadline = NowMs() + timeoutMs;
    const std::string statePath = udcClassDir + "/" + udc + "/state";
    for (;;) {
        if (ReadAttribute(statePath, 64) == "configured") {
            return true;
        }
        if (NowMs() >= deadline) {
            return false;
        }
        SleepMs(20);
    }
}

void RemoveGadget(Gadget *gadget) {
    CloseGadgetNode(gadget);
    if (gadget->dir.empty()) {
        return;
    }
    std::string ignored;
    if (!gadget->udc.empty()) {
        UnbindGadget(gadget, &ignored);
    }
    const std::string &dir = gadget->dir;
    std::string config = dir + "/configs/" + CONFIG_NAME;
    // Reverse order of creation; steps that were never reached fail quietly.
    unlink((config + "/" + FUNCTION_NAME).c_str());
    rmdir(config.c_str());
    rmdir((dir + "/functions/" + FUNCTION_NAME).c_str());
    rmdir((dir + "/strings/" + LANGUAGE_FOLDER).c_str());
    rmdir(dir.c_str());
    gadget->dir.clear();
}

std::vector<std::string> ListUdcs(const std::string &udcClassDir) {
    std::vector<std::string> names;
    DIR *dir = opendir(udcClassDir.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            names.push_back(entry->d_name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}
