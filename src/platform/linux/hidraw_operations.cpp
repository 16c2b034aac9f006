// The platform operations on Linux, on top of the kernel's hidraw driver.
//
// - Device list: a snapshot of the hidraw nodes (device_list.h). Interface
//   index N is the N-th node of the snapshot.
// - Interface path: /dev/hidrawN.
// - Handle: the file descriptor of the open node (open_nodes.h), which must
//   be a character device of the hidraw class (node_identity.h).
// - Vendor and product ID: the HIDIOCGRAWINFO request on the descriptor.
// - Strings: the attributes that the kernel exposes in sysfs, as UTF-8,
//   converted to UTF-16 for the caller (node_strings.h). They are found
//   through the device number of the open node, so they always belong to the
//   device that the handle reaches, whatever the node is called.
// - Feature report: the HIDIOCSFEATURE request; the first byte is the report
//   ID, 0 for a device without numbered reports.
// - Attachment: the kernel's name of the node's HID device, which it numbers
//   anew for every device it adds (node_identity.h).
//
// A discovery pass visits every node, so the work per node is kept small:
// paths and sysfs files live in fixed buffers on the stack (no heap use per
// node), and a node whose IDs come from the HIDIOCGRAWINFO request costs no
// sysfs read unless it sits on the USB bus, whose release number is read.
// The heap holds only the device list and the table of open descriptors. No
// part of the backend uses the C++ library at run time, so the program needs
// nothing but the C library.
#include "platform/hid_platform.h"
#include "platform/linux/device_list.h"
#include "platform/linux/node_identity.h"
#include "platform/linux/node_strings.h"
#include "platform/linux/open_nodes.h"
#include "platform/linux/sysfs_files.h"
#include "platform/linux/usb_parent.h"
#include "platform/shared/device_interface.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstddef>

namespace {

using namespace hidraw;

// The interface that an enumeration of this list described, or null.
const HidrawNode *NodeOfInterface(const void *set, const SP_DEVICE_INTERFACE_DATA *data) {
    const DeviceList *list = FindLiveList(set);
    std::size_t index = 0;
    return list != nullptr && DescribedIndex(data, list->count, &index) ? &list->nodes[index] : nullptr;
}

int OpenFlagsForAccess(DWORD access) {
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    if (read && write) {
        return O_RDWR;
    }
    return write ? O_WRONLY : O_RDONLY;
}

// The bus and IDs from the HIDIOCGRAWINFO request. Where the descriptor does
// not answer it (a regular file standing in for the node in the backend's
// tests), they come from the HID_ID line of the device's uevent, which holds
// the same values that the request reports for a real node.
bool ReadHidId(const OpenNode &node, HidId *id) {
    hidraw_devinfo info{};
    if (ioctl(node.fd, HIDIOCGRAWINFO, &info) == 0) {
        id->bus = info.bustype;
        id->vendor = static_cast<std::uint16_t>(info.vendor);
        id->product = static_cast<std::uint16_t>(info.product);
        return true;
    }
    SysfsFile uevent;
    return ReadNodeUevent(node.number, &uevent) && ReadNodeHidId(uevent, id);
}

BOOLEAN GetDeviceString(HANDLE handle, HidStringKind kind, PVOID buffer, ULONG length) {
    const OpenNode *node = FindOpenNode(handle);
    return node != nullptr && CopyNodeString(node->number, kind, buffer, length) ? TRUE : FALSE;
}

}  // namespace

void HidD_GetHidGuid(LPGUID HidGuid) {
    if (HidGuid != nullptr) {
        *HidGuid = HID_INTERFACE_CLASS;
    }
}

// Only the HID interface class has members here. The enumerator and window
// arguments have no meaning on Linux and are ignored.
HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR, HWND, DWORD Flags) {
    DeviceList *list =
        CreateDeviceList(IsHidInterfaceClass(ClassGuid) && (Flags & DIGCF_DEVICEINTERFACE) != 0);
    return list != nullptr ? list : INVALID_HANDLE_VALUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID *InterfaceClassGuid,
                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const DeviceList *list = FindLiveList(DeviceInfoSet);
    return list != nullptr
               ? DescribeInterface(list->count, InterfaceClassGuid, MemberIndex, DeviceInterfaceData)
               : FALSE;
}

// A list is a token that is only looked up, but the signature is the contract's.
// cppcheck-suppress constParameterPointer
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA) {
    const HidrawNode *node = NodeOfInterface(DeviceInfoSet, DeviceInterfaceData);
    PathBuffer path;
    if (node == nullptr || !NodeDevPath(path, node->name)) {
        return FALSE;
    }
    return WriteInterfaceDetail(path, DeviceInterfaceDetailData, DeviceInterfaceDetailDataSize, RequiredSize);
}

// The node is identified as CreateFileA identifies it, by the device number
// that its path reaches; the attachment is the name of its HID device. The
// set is HDEVINFO as the platform contract declares it for every backend (the
// Windows one hands it to SetupDi calls that take it as it is).
// cppcheck-suppress constParameterPointer
BOOL GetInterfaceAttachment(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                            char *Buffer, DWORD BufferSize) {
    const HidrawNode *node = NodeOfInterface(DeviceInfoSet, DeviceInterfaceData);
    PathBuffer path;
    DeviceNumber number{};
    return node != nullptr && Buffer != nullptr && NodeDevPath(path, node->name) &&
                   IdentifyHidrawPath(path, &number) && HidDeviceName(number, Buffer, BufferSize)
               ? TRUE
               : FALSE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    DeviceList *list = FindLiveList(DeviceInfoSet);
    if (list == nullptr) {
        return FALSE;
    }
    DestroyDeviceList(list);
    return TRUE;
}

// Only a path that ends in a node name and reaches a hidraw character device
// is opened: a HID request sent to any other file could mean something else
// to its driver, and opening another driver's device can have effects of its
// own. The device is identified before the open and the descriptor checked
// after it, so a node replaced in between is refused too. Linux has no share
// modes, so dwShareMode has nothing to map to.
HANDLE CreateFileA(PCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
    NodeName name;
    DeviceNumber number{};
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING) {
        return INVALID_HANDLE_VALUE;
    }
    NodeNameOfPath(lpFileName, name);
    if (name[0] == '\0' || !IdentifyHidrawPath(lpFileName, &number)) {
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open(lpFileName, OpenFlagsForAccess(dwDesiredAccess) | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    if (!DescriptorReaches(fd, number) || !RememberOpenNode(fd, number)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return HandleOfFd(fd);
}

BOOL CloseHandle(HANDLE hObject) {
    const OpenNode *node = FindOpenNode(hObject);
    if (node == nullptr) {
        return FALSE;
    }
    const int fd = node->fd;
    ForgetOpenNode(fd);
    return close(fd) == 0 ? TRUE : FALSE;
}

// The release number is the USB device's; other buses do not tell it.
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
    const OpenNode *node = FindOpenNode(HidDeviceObject);
    HidId id{};
    if (node == nullptr || Attributes == nullptr || !ReadHidId(*node, &id)) {
        return FALSE;
    }
    Attributes->VendorID = static_cast<USHORT>(id.vendor);
    Attributes->ProductID = static_cast<USHORT>(id.product);
    Attributes->VersionNumber = id.bus == BUS_USB ? ReadUsbVersionNumber(node->number) : 0;
    return TRUE;
}

BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, MANUFACTURER_STRING, Buffer, BufferLength);
}

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, PRODUCT_STRING, Buffer, BufferLength);
}

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength) {
    return GetDeviceString(HidDeviceObject, SERIAL_STRING, Buffer, BufferLength);
}

// The length is part of the request number and has only _IOC_SIZEBITS bits;
// a longer report cannot be expressed and is refused rather than truncated.
// The request answers with the number of bytes the device took.
BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength) {
    const OpenNode *node = FindOpenNode(HidDeviceObject);
    if (node == nullptr || ReportBuffer == nullptr || ReportBufferLength == 0 ||
        ReportBufferLength > _IOC_SIZEMASK) {
        return FALSE;
    }
    const int taken = ioctl(node->fd, HIDIOCSFEATURE(ReportBufferLength), ReportBuffer);
    return taken >= 0 && static_cast<ULONG>(taken) == ReportBufferLength ? TRUE : FALSE;
}
