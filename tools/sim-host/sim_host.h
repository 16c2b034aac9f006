// The simulated host: a backend of the platform line whose HID interfaces
// come from a host file instead of hardware (docs/simulated-host.md).
// rxb540-sim loads it from the environment before main; tests and demos load
// and inspect it directly.
#ifndef RXB540_SIM_HOST_SIM_HOST_H
#define RXB540_SIM_HOST_SIM_HOST_H

#include <cerrno>
#include <string>
#include <vector>

// Loads the host file at path, replacing any host loaded before and closing
// nothing: handles of the old host become unknown. Board memory updates are
// written back to this file. On failure returns false with a one-line message
// (no line end) in *error.
bool SimHostLoadFile(const char *path, std::string *error);

// Loads the host file at path anew while handles and lists of the host stay
// as they are: a handle keeps its interface index, and one whose interface the
// new file no longer has fails every call but its close. On failure the host
// has no interfaces, and *error says why.
bool SimHostReloadFile(const char *path, std::string *error);

// Loads a host from text; board memory updates then stay in memory.
bool SimHostLoadText(const std::string &text, std::string *error);

// Appends the log's events to this file from now on; null stops logging.
void SimHostSetLog(const char *path);

// How many interface handles are open right now.
int SimHostOpenHandleCount();

// How many device-list objects are not yet released.
int SimHostOpenListCount();

// The relay state that interface index holds now, or -1 without such an interface.
int SimHostBoardState(int index);

// One HidD_SetFeature call on a handle of this host, as the host saw it.
struct SimFeatureCall {
    int interfaceIndex;
    int openHandles;     // interface handles open during the call, the written one included
    std::string report;  // the bytes passed, as many as the caller said
    bool taken;          // false when the interface refuses reports (feature=fail)
};

// Every HidD_SetFeature call on an open handle since the host was loaded, in order.
const std::vector<SimFeatureCall> &SimHostFeatureCalls();

// The host file's text as the host holds it now, board memory updates included.
std::string SimHostText();

// Makes the next SetupDiGetClassDevsA call fail with errno set to `cause`
// (EACCES when not given; 0 is taken as EACCES too), as a host in trouble
// could.
void SimHostFailNextDeviceList(int cause = EACCES);

// Appends "end open=K" to the log.
void SimHostLogProcessEnd();

#endif  // RXB540_SIM_HOST_SIM_HOST_H
