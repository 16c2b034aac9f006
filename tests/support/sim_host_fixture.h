// Tests on the simulated host: a keyboard and RXB540 boards for host files,
// and a fixture that logs the host's events to a scratch folder of its own.
#ifndef RXB540_TESTS_SUPPORT_SIM_HOST_FIXTURE_H
#define RXB540_TESTS_SUPPORT_SIM_HOST_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "board/device_identity.h"
#include "sim_host.h"
#include "support/sim_host_text.h"
#include "support/temp_dir.h"

// Another vendor's HID interface, with a serial number of its own.
inline const std::string FOREIGN = "vid=0x046d pid=0xc31c manufacturer=Logitech product=Keyboard serial=K1\n";

inline std::string Board(const std::string &serial, const std::string &more = "") {
    return BoardLine(RELAY_MANUFACTURER, serial, more);
}

class SimHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeTempDir();
        logPath = dir + "/log";
        SimHostSetLog(logPath.c_str());
    }
    void TearDown() override {
        SimHostSetLog(nullptr);
        RemoveTree(dir);
    }

    void Load(const std::string &host) {
        std::string error;
        ASSERT_TRUE(SimHostLoadText(host, &error)) << error;
    }

    std::string dir;
    std::string logPath;
};

#endif  // RXB540_TESTS_SUPPORT_SIM_HOST_FIXTURE_H
