#include "platform/linux/device_list.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace hidraw {
namespace {

// Discovery holds one list at a time, so the chain is one link long.
DeviceList *g_liveLists = nullptr;

bool AppendNode(DeviceList *list, std::size_t *capacity, unsigned long number, const char *name) {
    if (list->count == *capacity) {
        const std::size_t grown = *capacity == 0 ? 16 : *capacity * 2;
        void *nodes = std::realloc(list->nodes, grown * sizeof(HidrawNode));
        if (nodes == nullptr) {
            return false;
        }
        list->nodes = static_cast<HidrawNode *>(nodes);
        *capacity = grown;
    }
    HidrawNode &node = list->nodes[list->count++];
    node.number = number;
    CopyNodeName(node.name, name);
    return true;
}

// False, with errno set, when the snapshot cannot be made. Only a class
// folder that does not exist means no nodes; a folder that cannot be opened
// or read to its end is a failure, never a shorter list.
bool SnapshotHidrawNodes(DeviceList *list) {
    PathBuffer classDir;
    if (!HidrawClassDir(classDir)) {
        errno = ENAMETOOLONG;
        return false;
    }
    DIR *dir = opendir(classDir);
    if (dir == nullptr) {
        return errno == ENOENT;
    }
    std::size_t capacity = 0;
    int failure = 0;
    while (failure == 0) {
        errno = 0;  // readdir tells the end from an error only by errno
        const dirent *entry = readdir(dir);
        if (entry == nullptr) {
            failure = errno;
            break;
        }
        unsigned long number = 0;
        if (ParseHidrawName(entry->d_name, &number) && !AppendNode(list, &capacity, number, entry->d_name)) {
            failure = ENOMEM;
        }
    }
    closedir(dir);
    std::sort(list->nodes, list->nodes + list->count,
              [](const HidrawNode &a, const HidrawNode &b) { return a.number < b.number; });
    errno = failure;
    return failure == 0;
}

void FreeList(DeviceList *list) {
    std::free(list->nodes);
    std::free(list);
}

}  // namespace

DeviceList *CreateDeviceList(bool withNodes) {
    DeviceList *list = static_cast<DeviceList *>(std::calloc(1, sizeof(DeviceList)));
    if (list == nullptr) {
        return nullptr;
    }
    if (withNodes && !SnapshotHidrawNodes(list)) {
        const int failure = errno;
        FreeList(list);
        errno = failure;
        return nullptr;
    }
    list->nextLive = g_liveLists;
    g_liveLists = list;
    return list;
}

DeviceList *FindLiveList(const void *token) {
    for (DeviceList *list = g_liveLists; list != nullptr; list = list->nextLive) {
        if (list == token) {
            return list;
        }
    }
    return nullptr;
}

void DestroyDeviceList(DeviceList *list) {
    DeviceList **link = &g_liveLists;
    while (*link != nullptr && *link != list) {
        link = &(*link)->nextLive;
    }
    if (*link != nullptr) {
        *link = list->nextLive;
        FreeList(list);
    }
}

}  // namespace hidraw
