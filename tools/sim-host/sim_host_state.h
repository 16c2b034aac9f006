// What the simulated host holds while it runs, shared by its test interface
// (sim_host.cpp) and its platform operations (platform_operations.cpp).
#ifndef RXB540_SIM_HOST_SIM_HOST_STATE_H
#define RXB540_SIM_HOST_SIM_HOST_STATE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host_file_format.h"
#include "sim_host.h"

// An interface of the host and where the line that describes it stands in
// the host file's text (its line end excluded).
struct LoadedInterface {
    HostInterface fields;
    std::size_t lineStart;
    std::size_t lineEnd;
};

struct OpenHandle {
    std::size_t slot;  // the handle's number
    int interfaceIndex;
};

struct SimHost {
    std::string text;  // the whole host file, board memory updates included
    std::vector<LoadedInterface> interfaces;
    std::string path;  // the host file; empty when loaded from text (updates stay in memory)
    std::string logPath;
    std::size_t handlesHandedOut = 0;     // every handle gets a new number, so a closed one stays unknown
    std::vector<OpenHandle> openHandles;  // only the handles open now
    std::vector<long> listSizes;          // per device list handed out: its interfaces, -1 once destroyed
    std::vector<SimFeatureCall> featureCalls;
    int failNextDeviceList = 0;  // the error code that the next device list fails with; 0: it succeeds
};

SimHost &Host();

// The line of an interface, its line end excluded.
std::string_view LineOf(const LoadedInterface &iface);

// Appends one line to the log, if there is one.
void AppendLog(const std::string &line);

// Updates interface index's line the way a board updates its memory when it
// takes this report, and writes the host file anew.
void RememberReport(std::size_t index, const std::uint8_t *report, std::size_t length);

#endif  // RXB540_SIM_HOST_SIM_HOST_STATE_H
