// What one emulated USB HID gadget presents to the host: its IDs and strings,
// whether it acts on the commands of an RXB540 board, and whether it refuses
// every report.
#ifndef RXB540_TOOLS_BOARD_EMULATOR_GADGET_DESCRIPTION_H
#define RXB540_TOOLS_BOARD_EMULATOR_GADGET_DESCRIPTION_H

#include <cstdint>
#include <string>

constexpr std::uint16_t BOARD_VENDOR_ID = 0x16c0;
constexpr std::uint16_t BOARD_PRODUCT_ID = 0x05df;

struct GadgetDescription {
    bool isBoard;
    bool refusesReports;  // every SET_REPORT is stalled, as by a faulty board
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::string manufacturer;
    std::string product;
    std::string serial;  // empty: the gadget has no serial number string
};

// Parses one gadget argument:
//   board:SERIAL                              an RXB540 board
//   refusing:SERIAL                           a board that refuses every report
//   noserial                                  a board without a serial number string
//   hid:VID:PID:MANUFACTURER:PRODUCT:SERIAL   any other HID gadget (IDs in hex)
// On failure returns false and says why in *error.
bool ParseGadgetDescription(const std::string &text, GadgetDescription *description, std::string *error);

#endif  // RXB540_TOOLS_BOARD_EMULATOR_GADGET_DESCRIPTION_H
