// The attachment of an interface on Windows: the time at which the device
// node behind it last arrived (DEVPKEY_Device_LastArrivalDate, Windows 8 and
// later), which Windows sets anew each time it enumerates the device. Where
// the property is not kept (older Windows, Wine), the host does not tell.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/hid_platform.h"

#include <devpropdef.h>

namespace {

// DEVPKEY_Device_LastArrivalDate, spelled out so that no GUID library is needed.
const DEVPROPKEY LAST_ARRIVAL_DATE = {
    {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}}, 102};

// The device node behind the interface: the detail call fills it in, so the
// detail record is fetched whole, as discovery does.
bool FindDeviceNode(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA iface, SP_DEVINFO_DATA *device) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(list, iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return false;
    }
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail =
        static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(std::malloc(size));
    if (detail == nullptr) {
        return false;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    device->cbSize = sizeof(SP_DEVINFO_DATA);
    const bool found = SetupDiGetDeviceInterfaceDetailA(list, iface, detail, size, nullptr, device) != FALSE;
    std::free(detail);
    return found;
}

}  // namespace

BOOL GetInterfaceAttachment(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                            char *Buffer, DWORD BufferSize) {
    SP_DEVINFO_DATA device;
    DEVPROPTYPE type = 0;
    FILETIME arrival = {};
    if (Buffer == nullptr || DeviceInterfaceData == nullptr ||
        !FindDeviceNode(DeviceInfoSet, DeviceInterfaceData, &device) ||
        !SetupDiGetDevicePropertyW(DeviceInfoSet, &device, &LAST_ARRIVAL_DATE, &type,
                                   reinterpret_cast<PBYTE>(&arrival), sizeof arrival, nullptr, 0) ||
        type != DEVPROP_TYPE_FILETIME) {
        return FALSE;
    }
    char text[20];
    const int length =
        std::snprintf(text, sizeof text, "%08lx%08lx", static_cast<unsigned long>(arrival.dwHighDateTime),
                      static_cast<unsigned long>(arrival.dwLowDateTime));
    if (length < 0 || static_cast<DWORD>(length) >= BufferSize) {
        return FALSE;
    }
    std::memcpy(Buffer, text, static_cast<std::size_t>(length) + 1);
    return TRUE;
}
