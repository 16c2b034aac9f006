// Helpers for writing simulated host files in tests.
#ifndef RXB540_TESTS_SUPPORT_SIM_HOST_TEXT_H
#define RXB540_TESTS_SUPPORT_SIM_HOST_TEXT_H

#include <string>

// Escapes text for a device-string field of a host file.
inline std::string EscapeHostString(const std::string &text) {
    std::string escaped;
    for (char c : text) {
        escaped += c == ' '    ? std::string("\\s")
                   : c == '\t' ? std::string("\\t")
                   : c == '\\' ? std::string("\\\\")
                               : std::string(1, c);
    }
    return escaped;
}

// One host-file line for an RXB540 board with the given manufacturer string
// and serial number, followed by any further fields.
inline std::string BoardLine(const std::string &manufacturer, const std::string &serial,
                             const std::string &more = "") {
    return "vid=0x16c0 pid=0x05df manufacturer=" + EscapeHostString(manufacturer) +
           " product=RXB540 serial=" + serial + (more.empty() ? "" : " " + more) + "\n";
}

#endif  // RXB540_TESTS_SUPPORT_SIM_HOST_TEXT_H
