// Result codes of board access and their message texts.
#ifndef RXB540_BOARD_DEVICE_RESULT_H
#define RXB540_BOARD_DEVICE_RESULT_H

typedef int DeviceResult;

enum : DeviceResult {
    DEVICE_OK = 0,
    DEVICE_ACCESS_DENIED = 1,
    DEVICE_COMM_ERROR = 2,
    DEVICE_NOT_FOUND = 3,
    // The host's HID interfaces could not be listed at all; the system's
    // reason is left where hid_platform.h says (errno, or GetLastError() on
    // Windows). Far from the other codes, so that the small numbers a caller
    // may print as unknown keep their text.
    DEVICE_LIST_FAILED = 1001,
};

// The message for a failed result. Codes without a fixed text, DEVICE_OK
// included, are formatted into one static buffer that the next such call
// overwrites.
const char *DeviceResultText(DeviceResult code);

#endif  // RXB540_BOARD_DEVICE_RESULT_H
