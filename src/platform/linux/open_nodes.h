// The table of open handles. A handle is the file descriptor of an open node,
// stored as descriptor + 1 so that descriptor 0 is not the null handle and no
// descriptor is INVALID_HANDLE_VALUE.
//
// The string calls receive only a handle, yet the strings live in sysfs, so
// the table records the device number of the hidraw device that each
// descriptor reaches (node_identity.h): its sysfs entry is found through
// /sys/dev/char by that number, never by the node's name, which may name
// another device (a container that was given the host's /dev/hidraw5 as its
// /dev/hidraw0 sees the host's /sys). Only descriptors in the table are
// handles: anything else (standard output, say) is refused rather than
// closed or written to.
#ifndef RXB540_PLATFORM_LINUX_OPEN_NODES_H
#define RXB540_PLATFORM_LINUX_OPEN_NODES_H

#include "platform/linux/hidraw_paths.h"

namespace hidraw {

struct OpenNode {
    int fd;
    DeviceNumber number;
};

// The handle of a descriptor.
void *HandleOfFd(int fd);

// The open node behind a handle that the table holds, or null.
const OpenNode *FindOpenNode(const void *handle);

// Records descriptor fd as reaching hidraw device `number`; false when memory
// for the table ran out.
bool RememberOpenNode(int fd, DeviceNumber number);

// Removes descriptor fd from the table.
void ForgetOpenNode(int fd);

}  // namespace hidraw

#endif  // RXB540_PLATFORM_LINUX_OPEN_NODES_H
