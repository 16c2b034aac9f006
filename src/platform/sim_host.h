// The simulated host: a backend of the platform line whose HID interfaces
// come from a host file instead of hardware. rxb540-sim loads it from the
// environment before main; tests and demos load and inspect it directly.
#ifndef RXB540_PLATFORM_SIM_HOST_H
#define RXB540_PLATFORM_SIM_HOST_H

#include <string>

// Loads the host file at path, replacing any host loaded before and closing
// nothing: handles of the old host become unknown. Board memory updates are
// written back to this file. On failure returns false with a one-line message
// (no line end) in *error.
bool SimHostLoadFile(const char *path, std::string *error);

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

// Makes the next SetupDiGetClassDevsA call fail, as a host in trouble could.
void SimHostFailNextDeviceList();

// Appends "end open=K" to the log.
void SimHostLogProcessEnd();

// What rxb540-sim does before main: loads RXB540_SIM_HOST, opens the log
// named by RXB540_SIM_LOG, and arranges for "end open=K" at process end. On
// any failure writes one line to standard error and ends the process with
// status 2.
bool SimHostStartFromEnvironment();

#endif  // RXB540_PLATFORM_SIM_HOST_H
