// Emulates RXB540 relay boards (and other HID devices) as USB gadgets, so
// that a Linux machine with a USB device controller, or with the dummy_hcd
// virtual controller, shows them to a USB host as real devices. Every report
// that a gadget receives, and what the board made of it, is printed as one
// line of key=value fields on standard output. On SIGUSR1 it prints a
// sequence marker after every report that had already arrived.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board_commands.h"
#include "configfs_gadget.h"
#include "gadget_description.h"

namespace {

const char UDC_CLASS_DIR[] = "/sys/class/udc";
const int NODE_WAIT_MS = 2000;

volatile sig_atomic_t g_stopRequested = 0;
volatile sig_atomic_t g_markRequested = 0;

struct Options {
    std::string configfsRoot = "/sys/kernel/config/usb_gadget";
    std::string namePrefix = "rxb540-emu";
    std::vector<std::string> udcs;
    int hostWaitMs = 5000;
    std::vector<GadgetDescription> descriptions;
};

void PrintUsage(const char *program) {
    std::fprintf(stderr,
                 "usage: %s [--udc NAME]... [--configfs DIR] [--name PREFIX] [--host-wait MS] GADGET...\n"
                 "  GADGET: board:SERIAL                             an RXB540 board\n"
                 "          refusing:SERIAL                          a board that refuses every report\n"
                 "          noserial                                 a board without a serial number string\n"
                 "          hid:VID:PID:MANUFACTURER:PRODUCT:SERIAL  another HID device (IDs in hex)\n",
                 program);
}

bool ParseMilliseconds(const char *text, int *value) {
    char *end = nullptr;
    errno = 0;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || end == text || parsed < 0 || parsed > 3600000) {
        return false;
    }
    *value = static_cast<int>(parsed);
    return true;
}

bool ParseOptions(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--udc" && hasValue) {
            options->udcs.push_back(argv[++i]);
        } else if (arg == "--configfs" && hasValue) {
            options->configfsRoot = argv[++i];
        } else if (arg == "--name" && hasValue) {
            options->namePrefix = argv[++i];
        } else if (arg == "--host-wait" && hasValue) {
            if (!ParseMilliseconds(argv[++i], &options->hostWaitMs)) {
                std::fprintf(stderr, "bad --host-wait value: %s\n", argv[i]);
                return false;
            }
        } else if (arg.compare(0, 2, "--") == 0) {
            std::fprintf(stderr, "unknown or incomplete option: %s\n", arg.c_str());
            return false;
        } else {
            GadgetDescription description;
            std::string error;
            if (!ParseGadgetDescription(arg, &description, &error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return false;
            }
            options->descriptions.push_back(description);
        }
    }
    return !options->descriptions.empty();
}

void RequestStop(int) {
    g_stopRequested = 1;
}

void RequestMark(int) {
    g_markRequested = 1;
}

// No SA_RESTART: a signal must wake the poll of the main loop. SIGUSR1 is
// blocked everywhere but in that poll (*serveMask), so a marker request can
// neither slip in between the check of its flag and the poll, nor interrupt
// the setup of a gadget.
void InstallSignalHandlers(sigset_t *serveMask) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    action.sa_handler = RequestMark;
    sigaction(SIGUSR1, &action, nullptr);
    sigset_t markSignal;
    sigemptyset(&markSignal);
    sigaddset(&markSignal, SIGUSR1);
    sigprocmask(SIG_BLOCK, &markSignal, serveMask);
    sigdelset(serveMask, SIGUSR1);
    // A closed output is noticed in PrintLine; dying of SIGPIPE would leave
    // the gadgets behind.
    signal(SIGPIPE, SIG_IGN);
}

// Every line is flushed at once: a test or a script reads it while the
// emulator goes on running. When nobody can read the lines any more, the
// emulator stops and removes its gadgets.
void PrintLine(const std::string &line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    if (std::fflush(stdout) != 0) {
        g_stopRequested = 1;
    }
}

std::string GadgetField(std::size_t index, const Gadget &gadget) {
    return "gadget=" + std::to_string(index) + " serial=" + gadget.description.serial;
}

std::string HexId(unsigned id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", id & 0xffffu);
    return text;
}

// Binds the gadget, waits for a host to configure it and opens its node.
// Waiting before the next gadget is bound lets the host enumerate the
// gadgets in the order given.
bool BringUp(std::size_t index, Gadget *gadget, const std::string &udc, int hostWaitMs) {
    std::string error;
    if (!BindGadget(gadget, udc, &error) || !OpenGadgetNode(gadget, NODE_WAIT_MS, &error)) {
        std::fprintf(stderr, "gadget %zu: %s\n", index, error.c_str());
        return false;
    }
    bool configured = WaitUntilConfigured(UDC_CLASS_DIR, udc, hostWaitMs);
    PrintLine("bound " + GadgetField(index, *gadget) + " udc=" + udc +
              " vid=" + HexId(gadget->description.vendorId) + " pid=" + HexId(gadget->description.productId) +
              " hidg=" + gadget->hidgPath + " host=" + (configured ? "configured" : "absent"));
    return true;
}

// A new serial number reaches the host only through a new enumeration:
// the strings of a bound gadget are fixed.
bool ChangeSerial(std::size_t index, Gadget *gadget, const std::string &serial, int hostWaitMs) {
    std::string udc = gadget->udc;
    std::string old = gadget->description.serial;
    std::string error;
    CloseGadgetNode(gadget);
    if (!UnbindGadget(gadget, &error) || !WriteGadgetSerial(gadget, serial, &error)) {
        std::fprintf(stderr, "gadget %zu: %s\n", index, error.c_str());
        return false;
    }
    PrintLine("serial gadget=" + std::to_string(index) + " old=" + old + " new=" + serial);
    return BringUp(index, gadget, udc, hostWaitMs);
}

bool ApplyReport(std::size_t index, Gadget *gadget, const unsigned char *data, std::size_t length,
                 int hostWaitMs) {
    PrintLine("received " + GadgetField(index, *gadget) + " report=" + HexBytes(data, length));
    if (!gadget->description.isBoard) {
        return true;
    }
    BoardCommand command = DecodeBoardReport(data, length);
    switch (command.kind) {
        case BOARD_SET_STATE:
            PrintLine("state " + GadgetField(index, *gadget) + " state=" + std::to_string(command.state));
            return true;
        case BOARD_SET_SERIAL:
            return ChangeSerial(index, gadget, command.serial, hostWaitMs);
        case BOARD_IGNORED:
            PrintLine("ignored " + GadgetField(index, *gadget) + " reason=" + command.reason);
            return true;
    }
    return true;
}

enum ServeResult { SERVE_NOTHING, SERVE_REPORT, SERVE_LOST };

// While the host has the HID function disabled (from a reset, a disconnect or
// an unbind until its next SET_CONFIGURATION), newer kernels (6.12) report
// the node readable and fail every read, with ENOMEM where the function has
// no OUT endpoint and ESHUTDOWN where it has one; older ones (6.1) answer
// EAGAIN. Either way nothing is wrong with the node: it serves reports again
// once the host configures the function.
bool FunctionDisabled(int error) {
    return error == ENOMEM || error == ESHUTDOWN;
}

// Reads one report if there is one. Any other read error reopens the node;
// a second one in a row, or a node that cannot be reopened, means the gadget
// is lost (SERVE_LOST).
ServeResult ServeGadget(std::size_t index, Gadget *gadget, int hostWaitMs) {
    unsigned char report[64];
    ssize_t got = read(gadget->fd, report, sizeof report);
    int error = got < 0 ? errno : 0;
    if (got > 0) {
        gadget->reopened = false;
        return ApplyReport(index, gadget, report, static_cast<std::size_t>(got), hostWaitMs) ? SERVE_REPORT
                                                                                             : SERVE_LOST;
    }
    if (got < 0 && error == EINTR) {
        return SERVE_NOTHING;
    }
    if (got < 0 && (error == EAGAIN || FunctionDisabled(error))) {
        gadget->disabled = error != EAGAIN;
        gadget->reopened = false;
        return SERVE_NOTHING;
    }
    std::fprintf(stderr, "gadget %zu: read %s: %s%s\n", index, gadget->hidgPath.c_str(),
                 got < 0 ? std::strerror(error) : "end of file", gadget->reopened ? "" : "; reopening");
    CloseGadgetNode(gadget);
    if (gadget->reopened) {
        return SERVE_LOST;
    }
    std::string openError;
    if (!OpenGadgetNode(gadget, NODE_WAIT_MS, &openError)) {
        std::fprintf(stderr, "gadget %zu: %s\n", index, openError.c_str());
        return SERVE_LOST;
    }
    gadget->reopened = true;
    return SERVE_NOTHING;
}

// The marker: every report that a host had delivered before the request is
// read and printed first, so no such report can show up after the marker.
bool PrintMarker(std::vector<Gadget> *gadgets, int hostWaitMs, unsigned long number) {
    for (std::size_t i = 0; i < gadgets->size(); ++i) {
        ServeResult result;
        do {
            result = ServeGadget(i, &(*gadgets)[i], hostWaitMs);
        } while (result == SERVE_REPORT);
        if (result == SERVE_LOST) {
            return false;
        }
    }
    PrintLine("mark " + std::to_string(number));
    return true;
}

bool ServeUntilStopped(std::vector<Gadget> *gadgets, int hostWaitMs, const sigset_t &serveMask) {
    unsigned long marks = 0;
    while (!g_stopRequested) {
        // The node of a disabled function polls readable all the time: it
        // is left out of the poll (fd -1) and tried with a read every 50 ms.
        std::vector<pollfd> polls;
        bool probing = false;
        for (const Gadget &gadget : *gadgets) {
            polls.push_back(pollfd{gadget.disabled ? -1 : gadget.fd, POLLIN, 0});
            probing = probing || gadget.disabled;
        }
        const timespec timeout = {0, probing ? 50000000 : 500000000};
        int ready = ppoll(polls.data(), polls.size(), &timeout, &serveMask);
        if (ready < 0 && errno != EINTR) {
            std::perror("poll");
            return false;
        }
        for (std::size_t i = 0; i < polls.size(); ++i) {
            Gadget *gadget = &(*gadgets)[i];
            bool due = (ready > 0 && polls[i].revents != 0) || gadget->disabled;
            if (due && ServeGadget(i, gadget, hostWaitMs) == SERVE_LOST) {
                return false;
            }
        }
        if (g_markRequested) {
            g_markRequested = 0;
            if (!PrintMarker(gadgets, hostWaitMs, ++marks)) {
                return false;
            }
        }
    }
    return true;
}

bool ChooseUdcs(const Options &options, std::vector<std::string> *udcs) {
    *udcs = options.udcs.empty() ? ListUdcs(UDC_CLASS_DIR) : options.udcs;
    if (udcs->size() < options.descriptions.size()) {
        std::fprintf(stderr, "%zu gadgets need as many USB device controllers; %zu available%s\n",
                     options.descriptions.size(), udcs->size(),
                     options.udcs.empty() ? " (load dummy_hcd with num=N for N virtual ones)" : "");
        return false;
    }
    return true;
}

bool StartGadgets(const Options &options, const std::vector<std::string> &udcs,
                  std::vector<Gadget> *gadgets) {
    for (std::size_t i = 0; i < options.descriptions.size(); ++i) {
        Gadget gadget;
        std::string error;
        if (!CreateGadget(options.configfsRoot, options.namePrefix + std::to_string(i),
                          options.descriptions[i], &gadget, &error)) {
            std::fprintf(stderr, "gadget %zu: %s\n", i, error.c_str());
            return false;
        }
        gadgets->push_back(gadget);
    }
    for (std::size_t i = 0; i < gadgets->size() && !g_stopRequested; ++i) {
        if (!BringUp(i, &(*gadgets)[i], udcs[i], options.hostWaitMs)) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        PrintUsage(argv[0]);
        return 2;
    }
    std::vector<std::string> udcs;
    if (!ChooseUdcs(options, &udcs)) {
        return 1;
    }
    sigset_t serveMask;
    InstallSignalHandlers(&serveMask);
    std::vector<Gadget> gadgets;
    bool ok =
        StartGadgets(options, udcs, &gadgets) && ServeUntilStopped(&gadgets, options.hostWaitMs, serveMask);
    for (Gadget &gadget : gadgets) {
        RemoveGadget(&gadget);
    }
    PrintLine(ok ? "stopped" : "failed");
    return ok ? 0 : 1;
}
