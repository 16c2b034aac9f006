// The object behind a device list: a snapshot of the hidraw nodes named in
// <sysfs>/class/hidraw, taken when the list is made and sorted by node number
// (hidraw2 before hidraw10), so that interface index N is the N-th node of
// the snapshot whatever comes or goes later. The lists alive at any moment
// are known, so a list that was destroyed, or a value that never was a list,
// is recognised and refused instead of being read or freed.
#ifndef RXB540_PLATFORM_LINUX_DEVICE_LIST_H
#define RXB540_PLATFORM_LINUX_DEVICE_LIST_H

#include "platform/linux/hidraw_paths.h"

#include <cstddef>

namespace hidraw {

struct HidrawNode {
    unsigned long number;
    NodeName name;
};

struct DeviceList {
    HidrawNode *nodes;
    std::size_t count;
    DeviceList *nextLive;  // the chain of lists not yet destroyed
};

// A new list: the snapshot when withNodes is set, otherwise empty. A host
// without the hidraw class folder (no driver loaded) has no nodes. Null, with
// errno telling why, when the list cannot be made: memory ran out, or the
// class folder is there but cannot be read (a sandbox that denies it, no
// descriptor left, a file in its place). A host whose nodes cannot be seen is
// never taken for a host without nodes.
DeviceList *CreateDeviceList(bool withNodes);

// The live list at `token`, or null when `token` is not one.
DeviceList *FindLiveList(const void *token);

// Destroys a live list; afterwards FindLiveList no longer finds it.
void DestroyDeviceList(DeviceList *list);

}  // namespace hidraw

#endif  // RXB540_PLATFORM_LINUX_DEVICE_LIST_H
