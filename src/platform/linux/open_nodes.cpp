#include "platform/linux/open_nodes.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace hidraw {
namespace {

// The table grows only when more descriptors are open at once than ever
// before; discovery holds one at a time.
OpenNode *g_openNodes = nullptr;
std::size_t g_openNodeCount = 0;
std::size_t g_openNodeCapacity = 0;

// -1 for the null handle, INVALID_HANDLE_VALUE and anything no descriptor can be.
int FdOfHandle(const void *handle) {
    const std::intptr_t fd = reinterpret_cast<std::intptr_t>(handle) - 1;
    if (fd < 0 || fd > INT_MAX) {
        return -1;
    }
    return static_cast<int>(fd);
}

}  // namespace

void *HandleOfFd(int fd) {
    return reinterpret_cast<void *>(static_cast<std::intptr_t>(fd) + 1);
}

const OpenNode *FindOpenNode(const void *handle) {
    const int fd = FdOfHandle(handle);
    for (std::size_t i = 0; fd >= 0 && i < g_openNodeCount; ++i) {
        if (g_openNodes[i].fd == fd) {
            return &g_openNodes[i];
        }
    }
    return nullptr;
}

bool RememberOpenNode(int fd, DeviceNumber number) {
    ForgetOpenNode(fd);
    if (g_openNodeCount == g_openNodeCapacity) {
        const std::size_t grown = g_openNodeCapacity == 0 ? 4 : g_openNodeCapacity * 2;
        void *nodes = std::realloc(g_openNodes, grown * sizeof(OpenNode));
        if (nodes == nullptr) {
            return false;
        }
        g_openNodes = static_cast<OpenNode *>(nodes);
        g_openNodeCapacity = grown;
    }
    OpenNode &node = g_openNodes[g_openNodeCount++];
    node.fd = fd;
    node.number = number;
    return true;
}

void ForgetOpenNode(int fd) {
    const OpenNode *end = std::remove_if(g_openNodes, g_openNodes + g_openNodeCount,
                                         [fd](const OpenNode &node) { return node.fd == fd; });
    g_openNodeCount = static_cast<std::size_t>(end - g_openNodes);
}

}  // namespace hidraw
