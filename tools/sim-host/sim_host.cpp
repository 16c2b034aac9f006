// The simulated host's state, its test interface, its log, and the board
// memory that rewrites the host file. The whole host file is read once and
// kept as it is, with every interface line parsed.
#include "sim_host.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host_file_format.h"
#include "host_file_storage.h"
#include "sim_host_state.h"

namespace {

void ResetHost(SimHost *host) {
    const std::string logPath = host->logPath;
    *host = SimHost();
    host->logPath = logPath;
}

// Takes the host file's text as the new host; name is how messages call it.
bool LoadHost(const std::string &name, std::string text, std::string *error) {
    SimHost &host = Host();
    ResetHost(&host);
    host.interfaces.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    std::size_t next = 0;
    for (std::size_t number = 1; next < text.size(); ++number) {
        LoadedInterface loaded = {HostInterface(), next, LineEnd(text, next, &next)};
        const std::string_view line =
            std::string_view(text).substr(loaded.lineStart, loaded.lineEnd - loaded.lineStart);
        if (!IsInterfaceLine(line)) {
            continue;
        }
        HostFileError parseError;
        if (!ParseInterfaceLine(line, &loaded.fields, &parseError)) {
            *error = name + ":" + std::to_string(number) + ": " + parseError.message + ": " +
                     Printable(parseError.field);
            ResetHost(&host);
            return false;
        }
        host.interfaces.push_back(loaded);
    }
    host.text = std::move(text);
    return true;
}

// The serial number a set-serial report carries: from offset 2 up to its zero byte.
std::string SerialOfReport(const std::uint8_t *report, std::size_t length) {
    std::string serial;
    for (std::size_t i = 2; i < length && report[i] != 0; ++i) {
        serial += static_cast<char>(report[i]);
    }
    return serial;
}

}  // namespace

SimHost &Host() {
    static SimHost host;
    return host;
}

std::string_view LineOf(const LoadedInterface &iface) {
    return std::string_view(Host().text).substr(iface.lineStart, iface.lineEnd - iface.lineStart);
}

void AppendLog(const std::string &line) {
    const SimHost &host = Host();
    if (host.logPath.empty()) {
        return;
    }
    std::FILE *log = std::fopen(host.logPath.c_str(), "a");
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "%s\n", line.c_str());
    std::fclose(log);
}

void RememberReport(std::size_t index, const std::uint8_t *report, std::size_t length) {
    SimHost &host = Host();
    LoadedInterface &board = host.interfaces[index];
    std::string line(LineOf(board));
    if (length >= 3 && report[1] == 0x31) {
        SetFieldValue(&line, "state", board.fields.stateSpan, std::to_string(report[2]));
    } else if (length >= 3 && report[1] == 0x82) {
        SetFieldValue(&line, "serial", board.fields.serial, EscapeDeviceText(SerialOfReport(report, length)));
    } else {
        return;
    }
    // Only a well-formed value was put in, so the line parses again.
    HostInterface updated;
    HostFileError unused;
    ParseInterfaceLine(line, &updated, &unused);

    const std::size_t oldLength = board.lineEnd - board.lineStart;
    std::string text = host.text;
    text.replace(board.lineStart, oldLength, line);
    if (!host.path.empty() && !ReplaceHostFile(host.path, text)) {
#ifdef RXB540_SIM_FROM_ENVIRONMENT
        // Inside librxb540, which never prints: the log says it instead.
        AppendLog("host-file-not-updated " + std::string(std::strerror(errno)));
#else
        std::fprintf(stderr, "rxb540-sim: cannot update host file %s: %s\n", host.path.c_str(),
                     std::strerror(errno));
#endif
        return;
    }
    host.text.swap(text);
    board.fields = updated;
    board.lineEnd = board.lineStart + line.size();
    for (std::size_t later = index + 1; later < host.interfaces.size(); ++later) {
        host.interfaces[later].lineStart = host.interfaces[later].lineStart - oldLength + line.size();
        host.interfaces[later].lineEnd = host.interfaces[later].lineEnd - oldLength + line.size();
    }
}

bool SimHostLoadText(const std::string &text, std::string *error) {
    return LoadHost("host", text, error);
}

bool SimHostLoadFile(const char *path, std::string *error) {
    std::string text;
    if (!ReadHostFile(path, &text)) {
        *error = std::string("cannot read host file ") + path + ": " + std::strerror(errno);
        ResetHost(&Host());
        return false;
    }
    if (!LoadHost(path, std::move(text), error)) {
        return false;
    }
    Host().path = path;
    return true;
}

bool SimHostReloadFile(const char *path, std::string *error) {
    SimHost &host = Host();
    const std::size_t handlesHandedOut = host.handlesHandedOut;
    std::vector<OpenHandle> openHandles = std::move(host.openHandles);
    std::vector<long> listSizes = std::move(host.listSizes);
    std::vector<SimFeatureCall> featureCalls = std::move(host.featureCalls);
    const bool loaded = SimHostLoadFile(path, error);
    host.handlesHandedOut = handlesHandedOut;
    host.openHandles = std::move(openHandles);
    host.featureCalls = std::move(featureCalls);
    host.listSizes = std::move(listSizes);
    const long interfaces = static_cast<long>(host.interfaces.size());
    for (long &size : host.listSizes) {
        size = std::min(size, interfaces);
    }
    return loaded;
}

void SimHostSetLog(const char *path) {
    Host().logPath = path == nullptr ? "" : path;
}

int SimHostOpenHandleCount() {
    return static_cast<int>(Host().openHandles.size());
}

int SimHostOpenListCount() {
    int live = 0;
    for (long size : Host().listSizes) {
        live += size >= 0 ? 1 : 0;
    }
    return live;
}

int SimHostBoardState(int index) {
    const std::vector<LoadedInterface> &interfaces = Host().interfaces;
    if (index < 0 || static_cast<std::size_t>(index) >= interfaces.size()) {
        return -1;
    }
    return interfaces[static_cast<std::size_t>(index)].fields.state;
}

const std::vector<SimFeatureCall> &SimHostFeatureCalls() {
    return Host().featureCalls;
}

std::string SimHostText() {
    return Host().text;
}

void SimHostFailNextDeviceList(int cause) {
    Host().failNextDeviceList = cause != 0 ? cause : EACCES;
}

void SimHostLogProcessEnd() {
    AppendLog("end open=" + std::to_string(SimHostOpenHandleCount()));
}
