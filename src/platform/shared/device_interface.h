// Pieces of the device-list operations that every backend on a host other
// than Windows spells the same way: the HID interface class and the detail
// record that carries an interface's path to the caller.
#ifndef RXB540_PLATFORM_SHARED_DEVICE_INTERFACE_H
#define RXB540_PLATFORM_SHARED_DEVICE_INTERFACE_H

#include <cstddef>

#include "platform/hid_platform.h"

// The interface class of HID devices, {4D1E55B2-F16F-11CF-88CB-001111000030}.
extern const GUID HID_INTERFACE_CLASS;

bool IsHidInterfaceClass(const GUID *guid);

// Fills the caller's record for interface `index` of a list of `count`
// interfaces, as SetupDiEnumDeviceInterfaces does; Reserved carries the
// index for the detail call. Fails for a record of another size, another
// interface class, or an index past the end of the list.
BOOL DescribeInterface(std::size_t count, const GUID *interfaceClass, DWORD index,
                       PSP_DEVICE_INTERFACE_DATA data);

// The index of the interface that DescribeInterface described in `data`;
// false for a record of another size or an index past the end of the list.
bool DescribedIndex(const SP_DEVICE_INTERFACE_DATA *data, std::size_t count, std::size_t *index);

// Fills the caller's detail record with the interface path, as
// SetupDiGetDeviceInterfaceDetailA does. The size the record needs is always
// stored in *requiredSize (when given). Without a record the call fails, as
// the size query does on Windows; with one, its cbSize must hold the size of
// the record's header and detailSize must be at least the size needed.
BOOL WriteInterfaceDetail(const char *path, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                          PDWORD requiredSize);

#endif  // RXB540_PLATFORM_SHARED_DEVICE_INTERFACE_H
