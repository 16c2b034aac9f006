#include "sim_host.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/hid_platform.h"
#include "support/temp_dir.h"

namespace {

std::string LoadError(const std::string &host) {
    std::string error;
    EXPECT_FALSE(SimHostLoadText(host, &error)) << host;
    return error;
}

HANDLE OpenInterface(int index) {
    const std::string path = "sim:" + std::to_string(index);
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

TEST(SimHostFile, SyntaxErrorsNameTheLineAndTheField) {
    EXPECT_EQ(LoadError("# c\n\nvid=1\nvid=1 colour=red\n"), "host:4: unknown key: colour=red");
    EXPECT_EQ(LoadError("vid=1 pid=2 vid=3\n"), "host:1: repeated key: vid=3");
    EXPECT_EQ(LoadError("vid\n"), "host:1: field without '=': vid");
    EXPECT_EQ(LoadError("serial=\\u12\n"), "host:1: malformed value: serial=\\u12");
    EXPECT_EQ(LoadError("open=yes\n"), "host:1: malformed value: open=yes");
    EXPECT_EQ(LoadError("serial=\x01\xff\n"), "host:1: malformed value: serial=?\xff");
    for (const char *bad : {"vid=65536", "vid=0x", "vid=0x12345", "vid=0xg1", "vid=-1", "pid=1e3",
                            "state=256", "attachment=1000000", "attachment=x", "product=a\\n", "product=a\\",
                            "product=\xC0\x80", "product=\xED\xA0\x80", "product=\xE2\x82"}) {
        EXPECT_NE(LoadError(std::string(bad) + "\n"), "") << bad;
    }
    std::string error;
    EXPECT_TRUE(SimHostLoadText("vid=0xFFFF pid=65535 state=255 manufacturer=a=b#c\r\n  # x\n", &error))
        << error;
}

TEST(SimHostFile, StringsBecomeUtf16CutAtWholeCharactersAndTerminatedSaveAFullBuffer) {
    std::string error;
    const std::string full(256, 'z');
    ASSERT_TRUE(
        SimHostLoadText("product=\\s\xC3\xA9\xF0\x9F\x98\x80\\ud800\\\\ serial=" + full + "\n", &error))
        << error;
    HANDLE handle = OpenInterface(0);
    unsigned char buffer[512];
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_TRUE(HidD_GetProductString(handle, buffer, sizeof buffer));
    // A lone surrogate is served as the unit it is, as a device could send it.
    const char16_t expected[] = {u' ', 0x00E9, 0xD83D, 0xDE00, 0xD800, u'\\', 0};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0);
    // Too short a buffer: cut before the pair, never in it, and the odd last
    // byte left alone; no room even for the zero unit: refused, untouched.
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_TRUE(HidD_GetProductString(handle, buffer, 9));
    EXPECT_EQ(std::memcmp(buffer, expected, 4), 0);
    EXPECT_EQ(buffer[4] | buffer[5], 0);
    EXPECT_EQ(buffer[8], 0xEE);
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_FALSE(HidD_GetProductString(handle, buffer, 1));
    EXPECT_EQ(buffer[0], 0xEE);

    // 256 units fill a 512-byte buffer with no zero unit, as a misbehaving
    // device could; in a larger buffer the zero unit follows.
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_TRUE(HidD_GetSerialNumberString(handle, buffer, sizeof buffer));
    EXPECT_EQ(buffer[510], 'z');
    EXPECT_EQ(buffer[511], 0);
    unsigned char larger[514];
    ASSERT_TRUE(HidD_GetSerialNumberString(handle, larger, sizeof larger));
    EXPECT_EQ(larger[510], 'z');
    EXPECT_EQ(larger[512] | larger[513], 0);
    EXPECT_FALSE(HidD_GetManufacturerString(handle, buffer, sizeof buffer));
    CloseHandle(handle);

    EXPECT_NE(LoadError("serial=" + std::string(257, 'z') + "\n"), "");
}

TEST(SimHostHandles, UnknownAndClosedHandlesAreRefused) {
    std::string error;
    ASSERT_TRUE(SimHostLoadText("vid=1\nvid=2 open=fail\n", &error));
    EXPECT_EQ(OpenInterface(1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenInterface(2), INVALID_HANDLE_VALUE);
    const DWORD createAlways = 2;  // nothing is ever created
    EXPECT_EQ(CreateFileA("sim:0", GENERIC_READ, 0, nullptr, createAlways, 0, nullptr), INVALID_HANDLE_VALUE);
    HANDLE handle = OpenInterface(0);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SimHostOpenHandleCount(), 1);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(SimHostOpenHandleCount(), 0);
}

TEST(SimHostList, OnlyTheHidClassIsListedThenSizeQueryThenPathWithTheHeaderSize) {
    std::string error;
    ASSERT_TRUE(SimHostLoadText("vid=1\nvid=2 detail=fail\n", &error));
    HidD_GetHidGuid(nullptr);
    GUID guid;
    HidD_GetHidGuid(&guid);
    GUID other = guid;
    other.Data1 ^= 1;
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    // Another class, no class or no interfaces asked for: an empty list.
    for (HDEVINFO empty : {SetupDiGetClassDevsA(&other, nullptr, nullptr, DIGCF_DEVICEINTERFACE),
                           SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_DEVICEINTERFACE),
                           SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT)}) {
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(empty, nullptr, &guid, 0, &iface));
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(empty));
    }
    HDEVINFO list = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, nullptr, 0, &iface));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &other, 0, &iface));
    EXPECT_EQ(iface.Flags, 0u);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &iface));
    EXPECT_EQ(iface.Flags, SPINT_ACTIVE);
    EXPECT_EQ(std::memcmp(&iface.InterfaceClassGuid, &guid, sizeof guid), 0);
    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &iface, nullptr, 0, &size, nullptr));
    ASSERT_EQ(size, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 6);
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
        // Room for the path after the header; reached only through detail.
        // cppcheck-suppress unusedStructMember
        char bytes[64];
    } buffer;
    buffer.detail.cbSize = size;  // the buffer's size is not the header's size
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &iface, &buffer.detail, size, nullptr, nullptr));
    buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    iface.cbSize = 0;  // an interface record of another size is refused too
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &iface, &buffer.detail, size, nullptr, nullptr));
    iface.cbSize = sizeof iface;
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(list, &iface, &buffer.detail, size, nullptr, nullptr));
    EXPECT_STREQ(buffer.detail.DevicePath, "sim:0");

    // detail=fail: the size query answers, fetching the path fails.
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 1, &iface));
    ASSERT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &iface, nullptr, 0, &size, nullptr));
    size = 0;
    EXPECT_FALSE(
        SetupDiGetDeviceInterfaceDetailA(list, &iface, &buffer.detail, sizeof buffer, &size, nullptr));
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 2, &iface));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_EQ(SimHostOpenListCount(), 0);
}

TEST(SimHostMemory, ReportsRewriteOnlyTheirFieldAndKeepTheRest) {
    const std::string dir = MakeTempDir();
    const std::string path = dir + "/host";
    // Every other byte survives a rewrite: a zero byte in a comment, CR LF,
    // and a last line that ends in a lone CR.
    const std::string comment = std::string("# bo\0ards\n", 10);
    WriteTextFile(path, comment +
                            "vid=1 serial=old\tstate=7 manufacturer=a#b\n"
                            "\n"
                            "vid=2\r\n"
                            "vid=3 state=1\r");
    std::string error;
    ASSERT_TRUE(SimHostLoadFile(path.c_str(), &error)) << error;
    HANDLE first = OpenInterface(0);
    HANDLE second = OpenInterface(1);
    unsigned char serial[17] = {0, 0x82, 'a', ' ', 'b', '\\', 0x01, 0xC9, 0, 'x'};
    unsigned char state[17] = {0, 0x31, 200};
    ASSERT_TRUE(HidD_SetFeature(first, serial, sizeof serial));
    ASSERT_TRUE(HidD_SetFeature(first, state, sizeof state));
    ASSERT_TRUE(HidD_SetFeature(second, state, sizeof state));
    ASSERT_TRUE(HidD_SetFeature(second, serial, sizeof serial));
    const std::string expected = comment +
                                 "vid=1 serial=a\\sb\\\\\\u0001\\u00c9\tstate=200 manufacturer=a#b\n"
                                 "\n"
                                 "vid=2 state=200 serial=a\\sb\\\\\\u0001\\u00c9\r\n"
                                 "vid=3 state=1\r";
    EXPECT_EQ(ReadTextFile(path), expected);
    EXPECT_EQ(SimHostText(), expected);
    unsigned char buffer[512];
    ASSERT_TRUE(HidD_GetSerialNumberString(second, buffer, sizeof buffer));
    EXPECT_EQ(buffer[0], 'a');
    CloseHandle(first);
    CloseHandle(second);

    // What was written reads back as the same board.
    ASSERT_TRUE(SimHostLoadFile(path.c_str(), &error)) << error;
    EXPECT_EQ(SimHostBoardState(1), 200);
    RemoveTree(dir);
}

TEST(SimHostMemory, AFailedRewriteChangesNothingAndTheHostStaysUsable) {
    const std::string dir = MakeTempDir();
    const std::string path = dir + "/host";
    WriteTextFile(path, "vid=1 state=3 serial=abc\nvid=2 state=4\n");
    std::string error;
    ASSERT_TRUE(SimHostLoadFile(path.c_str(), &error)) << error;
    HANDLE first = OpenInterface(0);
    // A folder where the new file would be written makes the write fail.
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    ASSERT_EQ(mkdir(temporary.c_str(), 0700), 0);
    unsigned char serial[17] = {0, 0x82, 'l', 'o', 'n', 'g', 'e', 'r', 0};
    testing::internal::CaptureStderr();
    EXPECT_TRUE(HidD_SetFeature(first, serial, sizeof serial));
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message.rfind("rxb540-sim: cannot update host file " + path + ": ", 0), 0u) << message;
    EXPECT_EQ(ReadTextFile(path), "vid=1 state=3 serial=abc\nvid=2 state=4\n");
    EXPECT_EQ(SimHostText(), "vid=1 state=3 serial=abc\nvid=2 state=4\n");
    EXPECT_EQ(SimHostBoardState(1), 4);
    ASSERT_EQ(rmdir(temporary.c_str()), 0);
    CloseHandle(first);

    EXPECT_FALSE(SimHostLoadFile("", &error));
    EXPECT_EQ(error, "cannot read host file : No such file or directory");
    EXPECT_FALSE(SimHostLoadFile(dir.c_str(), &error));
    EXPECT_EQ(error, "cannot read host file " + dir + ": Is a directory");
    RemoveTree(dir);
}

TEST(SimHostMemory, FeatureCallsAndTextAreObservableWithoutAFile) {
    std::string error;
    ASSERT_TRUE(SimHostLoadText("vid=1 state=3\r\n# c\nvid=2 feature=fail", &error)) << error;
    HANDLE first = OpenInterface(0);
    HANDLE second = OpenInterface(1);
    const unsigned char state[17] = {0, 0x31, 9};
    const unsigned char serial[3] = {0, 0x82, 'x'};
    ASSERT_TRUE(HidD_SetFeature(first, const_cast<unsigned char *>(state), sizeof state));
    CloseHandle(first);
    EXPECT_FALSE(HidD_SetFeature(second, const_cast<unsigned char *>(serial), sizeof serial));
    EXPECT_FALSE(HidD_SetFeature(first, const_cast<unsigned char *>(state), sizeof state));
    EXPECT_FALSE(HidD_SetFeature(second, const_cast<unsigned char *>(state), 0));
    CloseHandle(second);

    const std::vector<SimFeatureCall> &calls = SimHostFeatureCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].interfaceIndex, 0);
    EXPECT_EQ(calls[0].openHandles, 2);
    EXPECT_EQ(calls[0].report, std::string(reinterpret_cast<const char *>(state), sizeof state));
    EXPECT_TRUE(calls[0].taken);
    EXPECT_EQ(calls[1].interfaceIndex, 1);
    EXPECT_EQ(calls[1].openHandles, 1);
    EXPECT_EQ(calls[1].report, std::string("\0\x82x", 3));
    EXPECT_FALSE(calls[1].taken);
    EXPECT_EQ(SimHostText(), "vid=1 state=9\r\n# c\nvid=2 feature=fail");

    ASSERT_TRUE(SimHostLoadText("", &error));
    EXPECT_TRUE(SimHostFeatureCalls().empty());
    EXPECT_EQ(SimHostText(), "");
}
