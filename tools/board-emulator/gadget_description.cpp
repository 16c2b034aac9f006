#include "gadget_description.h"

#include <cstdlib>
#include <vector>

#include "board_commands.h"

#ifndef RXB540_MANUFACTURER
#error "RXB540_MANUFACTURER must name the manufacturer string of the board"
#endif

namespace {

std::vector<std::string> SplitFields(const std::string &text) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type colon = text.find(':', start);
        if (colon == std::string::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
}

bool ParseHexId(const std::string &text, std::uint16_t *id) {
    if (text.empty() || text.size() > 6) {
        return false;
    }
    char *end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (*end != '\0' || value > 0xffff) {
        return false;
    }
    *id = static_cast<std::uint16_t>(value);
    return true;
}

// Manufacturer and product strings: blanks allowed.
bool IsValidDescriptorText(const std::string &text) {
    return IsDescriptorText(text, true);
}

bool Fail(std::string *error, const std::string &text, const char *why) {
    *error = "bad gadget '" + text + "': " + why;
    return false;
}

}  // namespace

bool ParseGadgetDescription(const std::string &text, GadgetDescription *description, std::string *error) {
    std::vector<std::string> fields = SplitFields(text);
    GadgetDescription parsed;
    bool refusing = fields[0] == "refusing";
    if ((fields[0] == "board" || refusing) && fields.size() == 2) {
        parsed = GadgetDescription{true,     refusing, BOARD_VENDOR_ID, BOARD_PRODUCT_ID, RXB540_MANUFACTURER,
                                   "RXB540", fields[1]};
    } else if (fields[0] == "noserial" && fields.size() == 1) {
        // A board that has no serial number string: the only gadget with an
        // empty serial.
        *description = GadgetDescription{
            true, false, BOARD_VENDOR_ID, BOARD_PRODUCT_ID, RXB540_MANUFACTURER, "RXB540", std::string()};
        return true;
    } else if (fields[0] == "hid" && fields.size() == 6) {
        parsed = GadgetDescription{false, false, 0, 0, fields[3], fields[4], fields[5]};
        if (!ParseHexId(fields[1], &parsed.vendorId) || !ParseHexId(fields[2], &parsed.productId)) {
            return Fail(error, text, "vendor and product IDs are hex numbers up to ffff");
        }
        if (!IsValidDescriptorText(parsed.manufacturer) || !IsValidDescriptorText(parsed.product)) {
            return Fail(
                error, text,
                "manufacturer and product are 1 to 126 bytes of UTF-8 text without control characters");
        }
    } else {
        return Fail(
            error, text,
            "expected board:SERIAL, refusing:SERIAL, noserial or hid:VID:PID:MANUFACTURER:PRODUCT:SERIAL");
    }
    if (!IsValidSerialText(parsed.serial)) {
        return Fail(error, text,
                    "a serial number is 1 to 126 bytes of UTF-8 text without blanks or control characters");
    }
    *description = parsed;
    return true;
}
