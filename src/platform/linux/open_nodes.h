// The table of open handles. A handle is the file descriptor of an open node,
// stored as descriptor + 1 so that descriptor 0 is not the null handle and no
// descriptor is INVALID_HANDLE_VALUE.
//
// The string calls receive only a handle, yet the strings live in sysfs under
// the node's name, so the table records the name of the node that each
// descriptor was opened as; the paths that the backend hands out always end
// in that name. Asking the descriptor itself (its device number through
// /sys/dev/char) would work only for a real character device, not for the
// regular files that stand in for nodes in the backend's tests, so the same
// lookup serves both. Only descriptors in the table are handles: anything
// else (standard output, say) is refused rather than closed or written to.
#ifndef RXB540_PLATFORM_LINUX_OPEN_NODES_H
#define RXB540_PLATFORM_LINUX_OPEN_NODES_H

#include "platform/linux/hidraw_paths.h"

namespace hidraw {

struct OpenNode {
    int fd;
    NodeName name;
};

// The handle of a descriptor.
void *HandleOfFd(int fd);

// The open node behind a handle that the table holds, or null.
const OpenNode *FindOpenNode(const void *handle);

// Records descriptor fd as opened for node `name`; false when memory for the
// table ran out.
bool RememberOpenNode(int fd, const char *name);

// Removes descriptor fd from the table.
void ForgetOpenNode(int fd);

}  // namespace hidraw

#endif  // RXB540_PLATFORM_LINUX_OPEN_NODES_H
