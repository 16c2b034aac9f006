// Result codes of board access and their message texts.
#ifndef RXB540_BOARD_DEVICE_RESULT_H
#define RXB540_BOARD_DEVICE_RESULT_H

typedef int DeviceResult;

enum : DeviceResult {
    DEVICE_OK = 0,
    DEVICE_ACCESS_DENIED = 1,
    DEVICE_COMM_ERROR = 2,
    DEVICE_NOT_FOUND = 3,
};

// The message for a failed result. Codes without a fixed text, DEVICE_OK
// included, are formatted into one static buffer that the next such call
// overwrites.
const char *DeviceResultText(DeviceResult code);

#endif  // RXB540_BOARD_DEVICE_RESULT_H
