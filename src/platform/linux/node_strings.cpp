#include "platform/linux/node_strings.h"

#include "platform/linux/sysfs_files.h"
#include "platform/linux/usb_parent.h"
#include "platform/shared/utf16_text.h"

#include <linux/input.h>

namespace hidraw {
namespace {

// Writes the text as UTF-16 into the caller's buffer (see Utf16Output): a
// string longer than the buffer is cut before the last character that fits.
// A buffer without room for the zero unit gets nothing.
bool WriteUtf16String(const TextSpan &utf8, void *buffer, std::size_t lengthBytes) {
    Utf16Output out;
    if (!BeginUtf16(&out, buffer, lengthBytes)) {
        return false;
    }
    std::size_t pos = 0;
    while (pos < utf8.length) {
        char32_t codePoint;
        DecodeUtf8(utf8.data, utf8.length, &pos, &codePoint);
        if (!AppendUtf16(&out, codePoint)) {
            break;
        }
    }
    EndUtf16(&out);
    return true;
}

const char *UsbAttributeOf(HidStringKind kind) {
    switch (kind) {
        case MANUFACTURER_STRING:
            return "manufacturer";
        case PRODUCT_STRING:
            return "product";
        case SERIAL_STRING:
            break;
    }
    return "serial";
}

// Other buses give only the device name and, when it is not empty, the unique
// ID (for Bluetooth the device address); they have no manufacturer string.
bool FindNonUsbString(const SysfsFile &uevent, HidStringKind kind, TextSpan *text) {
    HidId id;
    if (!ReadNodeHidId(uevent, &id) || id.bus == BUS_USB || kind == MANUFACTURER_STRING) {
        return false;
    }
    if (kind == PRODUCT_STRING) {
        return FindUeventValue(uevent, "HID_NAME", text);
    }
    return FindUeventValue(uevent, "HID_UNIQ", text) && text->length > 0;
}

}  // namespace

// A USB device's strings are the attributes of its USB device, as read when
// it was plugged in.
bool CopyNodeString(DeviceNumber number, HidStringKind kind, void *buffer, std::size_t lengthBytes) {
    SysfsFile uevent;
    PathBuffer usbDir;
    if (!ReadNodeUevent(number, &uevent)) {
        return false;
    }
    if (FindNodeUsbDevice(number, uevent, usbDir)) {
        SysfsFile value;
        return ReadUsbAttribute(usbDir, UsbAttributeOf(kind), &value) &&
               WriteUtf16String({value.data, value.length}, buffer, lengthBytes);
    }
    TextSpan text;
    return FindNonUsbString(uevent, kind, &text) && WriteUtf16String(text, buffer, lengthBytes);
}

}  // namespace hidraw
