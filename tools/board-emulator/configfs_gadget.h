// One USB HID gadget in the kernel's configfs gadget tree: created with the
// IDs and strings of a GadgetDescription and one HID function, bound to a USB device
// controller (UDC), and reached through its /dev/hidgN node.
#ifndef RXB540_TOOLS_BOARD_EMULATOR_CONFIGFS_GADGET_H
#define RXB540_TOOLS_BOARD_EMULATOR_CONFIGFS_GADGET_H

#include <string>
#include <vector>

#include "gadget_description.h"

struct Gadget {
    GadgetDescription description;
    std::string dir;       // the gadget's folder in configfs
    std::string udc;       // the controller it is bound to; empty while unbound
    std::string hidgPath;  // the gadget-side node that receives the reports
    int fd;                // hidgPath opened for reading, -1 while closed
    // What the last reads of the node said, for the serving loop: the host
    // has the function disabled; the node was reopened after a read error.
    bool disabled;
    bool reopened;
};

// Creates the gadget folder <configfsRoot>/<name> with everything but the
// binding. On failure removes what it made and says why in *error.
bool CreateGadget(const std::string &configfsRoot, const std::string &name,
                  const GadgetDescription &description, Gadget *gadget, std::string *error);

bool BindGadget(Gadget *gadget, const std::string &udc, std::string *error);
bool UnbindGadget(Gadget *gadget, std::string *error);

// The strings of a bound gadget cannot change: the caller unbinds first.
bool WriteGadgetSerial(Gadget *gadget, const std::string &serial, std::string *error);

// Opens the gadget's hidg node for non-blocking reads, waiting up to
// timeoutMs for the node to appear.
bool OpenGadgetNode(Gadget *gadget, int timeoutMs, std::string *error);
void CloseGadgetNode(Gadget *gadget);

// True once a host has configured the device on that controller.
bool WaitUntilConfigured(const std::string &udcClassDir, const std::string &udc, int timeoutMs);

// Unbinds the gadget and removes its folder; tolerates a half-made gadget.
void RemoveGadget(Gadget *gadget);

// The controllers listed in udcClassDir (normally /sys/class/udc), in
// natural order: dummy_udc.2 before dummy_udc.10.
std::vector<std::string> ListUdcs(const std::string &udcClassDir);

#endif  // RXB540_TOOLS_BOARD_EMULATOR_CONFIGFS_GADGET_H
