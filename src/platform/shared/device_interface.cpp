#include "platform/shared/device_interface.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

const GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

bool IsHidInterfaceClass(const GUID *guid) {
    return guid != nullptr && std::memcmp(guid, &HID_INTERFACE_CLASS, sizeof(GUID)) == 0;
}

BOOL DescribeInterface(std::size_t count, const GUID *interfaceClass, DWORD index,
                       PSP_DEVICE_INTERFACE_DATA data) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        !IsHidInterfaceClass(interfaceClass) || index >= count) {
        return FALSE;
    }
    data->InterfaceClassGuid = HID_INTERFACE_CLASS;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index;
    return TRUE;
}

bool DescribedIndex(const SP_DEVICE_INTERFACE_DATA *data, std::size_t count, std::size_t *index) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved >= count) {
        return false;
    }
    *index = data->Reserved;
    return true;
}

BOOL WriteInterfaceDetail(const char *path, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                          PDWORD requiredSize) {
    const std::size_t pathLength = std::strlen(path);
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const std::size_t needed =
        std::max(pathOffset + pathLength + 1, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    if (needed > 0xFFFFFFFFu) {
        return FALSE;
    }
    if (requiredSize != nullptr) {
        *requiredSize = static_cast<DWORD>(needed);
    }
    if (detail == nullptr || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        detailSize < needed) {
        return FALSE;
    }
    std::memcpy(reinterpret_cast<char *>(detail) + pathOffset, path, pathLength + 1);
    return TRUE;
}
