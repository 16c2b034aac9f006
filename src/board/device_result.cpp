#include "board/device_result.h"

#include <cstdio>

const char *DeviceResultText(DeviceResult code) {
    switch (code) {
        case DEVICE_ACCESS_DENIED:
            return "Access to device denied";
        case DEVICE_COMM_ERROR:
            return "Communication error with device";
        case DEVICE_NOT_FOUND:
            return "The specified device was not found";
        case DEVICE_LIST_FAILED:
            return "The host's HID devices could not be listed";
        default:
            break;
    }
    static char unknown[40];
    std::snprintf(unknown, sizeof unknown, "Unknown USB error %d", code);
    return unknown;
}
