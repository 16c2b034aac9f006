// The contract between discovery and the platform: the HID, device-list and
// file operations that discovery and the commands call, and what each must
// do. They are spelled as the Windows platform spells them: on Windows the
// SDK provides them; on every other host one backend (its own folder below
// src/platform/) implements exactly these operations, so the code that calls
// them is the same everywhere.
#ifndef RXB540_PLATFORM_HID_PLATFORM_H
#define RXB540_PLATFORM_HID_PLATFORM_H

#ifdef _WIN32

#include <windows.h>

#include <setupapi.h>

// MinGW's hidsdi.h has no C++ guards of its own.
extern "C" {
#include <hidsdi.h>
}

#else

#include <cstdint>

typedef void *HANDLE;
typedef void *PVOID;
typedef void *HWND;
typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef char CHAR;
typedef unsigned short USHORT;
typedef std::uint32_t DWORD;
typedef std::uint32_t ULONG;
typedef std::uintptr_t ULONG_PTR;
typedef DWORD *PDWORD;
typedef const char *PCSTR;
typedef PVOID HDEVINFO;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
typedef GUID *LPGUID;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
typedef SP_DEVICE_INTERFACE_DATA *PSP_DEVICE_INTERFACE_DATA;

// A variable-length record: the caller allocates the size that the first
// detail call reports, but sets cbSize to the size of this header, as on
// Windows. A backend refuses any other cbSize.
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
typedef SP_DEVICE_INTERFACE_DETAIL_DATA_A *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

struct HIDD_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};
typedef HIDD_ATTRIBUTES *PHIDD_ATTRIBUTES;

struct SP_DEVINFO_DATA;
typedef SP_DEVINFO_DATA *PSP_DEVINFO_DATA;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

constexpr DWORD SPINT_ACTIVE = 0x00000001;
constexpr DWORD DIGCF_PRESENT = 0x00000002;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x00000010;
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD OPEN_EXISTING = 3;

#endif  // _WIN32

// ---- The operations and what every backend guarantees ----
//
// On Windows the SDK declares these operations and the system's own services
// implement them, so the declarations below are compiled only elsewhere; the
// comments hold on every host: discovery relies on nothing more than they
// say. Every other backend implements the operations exactly so, and its
// tests check the points where backends could differ.
//
// Common to every call:
// - Calls never overlap: librxb540 makes every one under a single lock, so a
//   backend needs no locking of its own, but calls may come from different
//   threads one after another.
// - A list (HDEVINFO) and a handle (HANDLE) are tokens that the backend hands
//   out; a valid one is never null and never INVALID_HANDLE_VALUE. Every call
//   refuses (fails, writes nothing, releases nothing) a token that the backend
//   did not hand out or has already released: such a value is never closed,
//   read or written through.
// - Each token is released exactly once, by its own release call. A later
//   call may hand out the same value again (a descriptor number or an
//   address is reused); until then the released value is refused.
// - A buffer is never written past the length the caller gives. A call that
//   fails writes nothing to the caller's records and buffers, except where a
//   comment says otherwise (the detail call's required size).
// - Text from a device is untrusted. The backends here hand it over bounded,
//   terminated and, where they decode it, with ill-formed sequences replaced
//   by U+FFFD; discovery still relies on none of that, since Windows passes a
//   device's units through as they are. The simulated host (tools/sim-host)
//   serves such misbehaviour on purpose: lone surrogates, and a string of
//   256 units that fills a 512-byte buffer with no zero unit.

#ifndef _WIN32
extern "C" {

// Writes the interface class of HID devices,
// {4D1E55B2-F16F-11CF-88CB-001111000030}, into *HidGuid. A null HidGuid is
// ignored.
void HidD_GetHidGuid(LPGUID HidGuid);

// Makes a new list: a snapshot of the HID interfaces present when it is made,
// in an order that the backend chooses and that stays fixed for the list's
// life. Interfaces that come or go later do not change it (one that went away
// fails when it is opened). A null or non-HID ClassGuid, or Flags without
// DIGCF_DEVICEINTERFACE, gives an empty list, still to be destroyed; only
// present interfaces are listed, whether DIGCF_PRESENT is given or not.
// Enumerator and hwndParent are ignored. A host without any HID interface, or
// without the driver that would provide them, gives an empty list.
// INVALID_HANDLE_VALUE, with nothing to destroy, only when no list can be
// made: out of memory, or the host's interfaces cannot be looked at (denied
// by a sandbox, no descriptor left). The system's error code then tells the
// cause, as the Windows call leaves it for GetLastError(): the POSIX backends
// leave it in errno, which nothing changes before the call returns.
HDEVINFO SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags);

// Fills *DeviceInterfaceData for the interface at MemberIndex (counted from
// 0, without gaps) of the list and returns TRUE: InterfaceClassGuid is the HID
// class, Flags is SPINT_ACTIVE, and Reserved identifies the interface to the
// detail call (the caller leaves it as it is). The caller sets cbSize to
// sizeof(SP_DEVICE_INTERFACE_DATA) before the walk. FALSE, with the record
// untouched, for an index past the end (which ends the walk), an invalid list,
// a null record, another cbSize, or a null or non-HID InterfaceClassGuid.
// DeviceInfoData is ignored.
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID *InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);

// The interface's path, in two calls. For a record that the enumeration call
// filled on this list, *RequiredSize (when not null) gets the size in bytes of
// the detail record holding the path: offsetof(DevicePath) + the path's length
// + 1, and never less than sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A). Without
// a buffer the call stops there and returns FALSE. With a buffer, its cbSize
// must hold sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) (the header, not the
// buffer) and DeviceInterfaceDetailDataSize must be at least the required
// size; DevicePath then gets the path with its terminating zero and the call
// returns TRUE. Otherwise FALSE and the buffer is not written. An invalid list
// or record, or an interface whose path cannot be had, gives FALSE with
// *RequiredSize untouched. The second call may fail even after the first gave
// a size; the caller passes the interface over. DeviceInfoData is ignored.
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData);

// Releases a list that SetupDiGetClassDevsA made and returns TRUE. Afterwards
// the list and the records filled from it are refused by every call: a second
// destroy returns FALSE, as does any value that is not a list of this backend.
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

// Opens the interface named by lpFileName, a DevicePath from the detail call,
// and returns a new handle for the caller to close exactly once; two opens of
// one interface give two handles. dwCreationDisposition must be
// OPEN_EXISTING: nothing is ever created. dwDesiredAccess asks for reading
// and/or writing; the share mode, security attributes, flags and template are
// ignored. INVALID_HANDLE_VALUE, with nothing to close, for a null path, a
// path that names no interface of this backend, another disposition, or an
// interface that is gone or cannot be opened (permissions, say).
// A backend may put off opening the device itself until a call first needs
// it (a string or a feature report) and keep it open from then on, so that
// reading the attributes of a device with other IDs never opens it. Such a
// backend still refuses here what it can tell without opening (a path that
// names nothing, a device that is gone or that the user may not open); a
// device that then fails to open, or that is no longer the one that the list
// described, makes every call that needs it fail. Closing a handle whose
// device was never opened releases it as any other.
HANDLE CreateFileA(PCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// Releases a handle that CreateFileA gave; TRUE, or FALSE when the system
// reported an error while releasing it, released all the same. Afterwards the
// handle is refused by every call, a second close included. A value that is
// not an open handle of this backend (null, INVALID_HANDLE_VALUE, a
// descriptor opened elsewhere) gives FALSE and nothing is closed.
BOOL CloseHandle(HANDLE hObject);

// Fills VendorID and ProductID (16 bits each) and VersionNumber (the device's
// release number, 0 where its bus does not tell it) and returns TRUE. Size is
// set by the caller and left as it is. A backend that opens devices only when
// needed (see CreateFileA) answers from the list's record of the interface,
// without opening the device. FALSE, with the record untouched, for
// an invalid handle, a null record, or IDs that cannot be read.
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes);

// The three string calls write the device's manufacturer, product or serial
// number string as UTF-16 into Buffer, BufferLength bytes long, end it with a
// zero unit and return TRUE. A string too long for the buffer is cut after the
// last whole character that fits before the zero unit: a character of two
// units is never cut in half, an odd last byte is never written, and nothing
// is written after the zero unit. An empty string that the device reports is
// TRUE with the zero unit alone where the host tells an empty string from a
// missing one (Windows); where it does not (the Linux kernel keeps no empty
// string of a USB device), an empty string fails as a missing one does.
// FALSE, with the buffer untouched, for an invalid handle, a null buffer, a
// BufferLength below 2 (no room for the zero unit), or a device that has no
// such string or whose string cannot be read: a string that cannot be read
// is a failure, never an empty string.
BOOLEAN HidD_GetManufacturerString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);

BOOLEAN HidD_GetProductString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);

BOOLEAN HidD_GetSerialNumberString(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);

// Sends the ReportBufferLength bytes at ReportBuffer as one feature report,
// whose first byte is the report ID (0 for a device without numbered
// reports); the buffer is only read. TRUE only when the device took the whole
// report. FALSE for an invalid handle, a null buffer, a length of 0 or one
// that the backend cannot send, or a device that refused the report or took
// only part of it.
BOOLEAN HidD_SetFeature(HANDLE HidDeviceObject, PVOID ReportBuffer, ULONG ReportBufferLength);

}  // extern "C"
#endif  // _WIN32

// ---- An operation of this system's own, on every host ----
//
// Windows has no single call for it, so every backend, the Windows one
// included (src/platform/windows/), implements it.

// The longest attachment text, its terminating zero included.
constexpr DWORD INTERFACE_ATTACHMENT_BYTES = 96;

// Writes to Buffer (BufferSize bytes) a zero-terminated text that names the
// present attachment of the device behind an interface that the enumeration
// call described on this list, and returns TRUE. The text stays the same
// while the device stays attached, and is another one once the host has
// enumerated the device anew (it was unplugged and plugged in again, reset,
// or given to its driver anew), even when the device comes back at the same
// path with the same strings: a board that did so has powered up with its
// relays off. It is only compared with another text of the same path; it
// means nothing else. FALSE, with the buffer untouched, for an invalid list or
// record, a text that does not fit, or where the host does not tell.
BOOL GetInterfaceAttachment(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                            char *Buffer, DWORD BufferSize);

#endif  // RXB540_PLATFORM_HID_PLATFORM_H
