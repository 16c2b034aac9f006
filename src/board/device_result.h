// Result codes of board access and their message texts.
#ifndef RXB540_BOARD_DEVICE_RESULT_H
#define RXB540_BOARD_DEVICE_RESULT_H

typedef int DeviceResult;

enum : DeviceResult {
    DEVICE_OK = 0,
    DEVICE_ACCESS_DENIED = 1,
    DEVICE_COMM_ERROR = 2,
    DEVICE_NOT_FOUND = 3,
    // The host's HID interfaces could not be listed at all. Far from the
    // other codes, so that the small numbers a caller may print as unknown
    // keep their text.
    DEVICE_LIST_FAILED = 1001,
};

// The message for a failed result. Codes without a fixed text, DEVICE_OK
// included, are formatted into one static buffer that the next such call
// overwrites.
const char *DeviceResultText(DeviceResult code);

// Keeps the system's own words for the error that a failing device-list call
// has just left (errno on POSIX hosts, GetLastError() on Windows), so that
// the reason for DEVICE_LIST_FAILED can be shown after other calls.
void RememberListFailureCause();

// The reason that RememberListFailureCause kept, such as "Permission denied";
// empty before the first failure.
const char *ListFailureCause();

#endif  // RXB540_BOARD_DEVICE_RESULT_H
