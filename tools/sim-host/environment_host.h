// The simulated host of a library or program built on it
// (-DRXB540_PLATFORM=sim): each device list is made from the host file that
// RXB540_SIM_HOST names at that moment, logged to RXB540_SIM_LOG, so one
// process can switch host files and a broken one is a failed device list,
// never an exit.
#ifndef RXB540_SIM_HOST_ENVIRONMENT_HOST_H
#define RXB540_SIM_HOST_ENVIRONMENT_HOST_H

// Loads the host file and the log that the environment names now; open
// handles stay open. False, with errno saying why, when RXB540_SIM_HOST is
// unset or empty (ENOENT), the file cannot be read (the system's reason), has
// a syntax error (EINVAL) or the log cannot be opened (the system's reason).
bool SimHostFollowEnvironment();

#endif  // RXB540_SIM_HOST_ENVIRONMENT_HOST_H
