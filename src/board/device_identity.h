// The identity by which an RXB540 board is told apart from every other HID
// interface on the host. Fixed at build time.
#ifndef RXB540_BOARD_DEVICE_IDENTITY_H
#define RXB540_BOARD_DEVICE_IDENTITY_H

#include <cstdint>

constexpr std::uint16_t RELAY_VENDOR_ID = 0x16C0;
constexpr std::uint16_t RELAY_PRODUCT_ID = 0x05DF;
// The maker's Internet domain, which the board reports as its manufacturer
// string; chosen by the build (RXB540_MANUFACTURER).
extern const char *const RELAY_MANUFACTURER;
constexpr const char *RELAY_PRODUCT = "RXB540";

#endif  // RXB540_BOARD_DEVICE_IDENTITY_H
