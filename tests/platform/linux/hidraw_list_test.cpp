// The hidraw backend's device lists: the snapshot of the class folder, the
// interface paths, the failures, and discovery on top of them (the trees are
// laid out by hidraw_fixture.h).
#include "hidraw_fixture.h"

#include "board/device_identity.h"
#include "platform/linux/hidraw_test_roots.h"
#include "platform/shared/device_interface.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

namespace {

using namespace hidraw_tests;

TEST_F(LinuxHidraw, ListsNodesInNumericOrderAsTheyWereWhenTheListWasMade) {
    AddRelayBoard(root, 10, "A");
    AddRelayBoard(root, 2, "B");
    AddRelayBoard(root, 1, "C");
    HDEVINFO list = OpenHidList();
    AddRelayBoard(root, 3, "D");
    ASSERT_EQ(unlink((root + "/sys/class/hidraw/hidraw10").c_str()), 0);

    EXPECT_EQ(InterfacePaths(list), (std::vector<std::string>{DevPath(1), DevPath(2), DevPath(10)}));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));

    HDEVINFO later = OpenHidList();
    EXPECT_EQ(InterfacePaths(later), (std::vector<std::string>{DevPath(1), DevPath(2), DevPath(3)}));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(later));
}

TEST_F(LinuxHidraw, ListIsEmptyWithoutTheClassFolderOrForAnotherOrNoClass) {
    AddRelayBoard(root, 0, "A");
    GUID otherClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    for (const GUID *classGuid :
         {static_cast<const GUID *>(&otherClass), static_cast<const GUID *>(nullptr)}) {
        HDEVINFO otherList =
            SetupDiGetClassDevsA(classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(otherList, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(InterfacePaths(otherList).empty());
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(otherList));
    }
    HidD_GetHidGuid(nullptr);  // ignored, not written through

    // No hidraw driver loaded, or no sysfs at all (a chroot): no interfaces.
    RemoveTree(root + "/sys/class");
    for (const std::string &sysfs : {root + "/sys", root + "/no-sys"}) {
        SetHidrawRootsForTests(sysfs.c_str(), (root + "/dev").c_str());
        HDEVINFO list = OpenHidList();
        ASSERT_NE(list, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(InterfacePaths(list).empty());
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    }
}

// A class folder that is there but cannot be read is a failure with the
// system's cause, never an empty host. Tests run as root, whom permissions do
// not stop, so the folder is made unreadable by what is in its place.
TEST_F(LinuxHidraw, ListThatCannotBeMadeFailsWithTheCause) {
    const std::string classDir = root + "/sys/class/hidraw";
    const struct {
        const char *what;
        void (*make)(const std::string &path);
        int cause;
    } cases[] = {
        {"a file", [](const std::string &path) { WriteTextFile(path, ""); }, ENOTDIR},
        {"a link to itself", [](const std::string &path) { ASSERT_EQ(symlink("hidraw", path.c_str()), 0); },
         ELOOP},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(classDir);
        c.make(classDir);
        errno = 0;
        EXPECT_EQ(OpenHidList(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(errno, c.cause);
        HidHandle handle = nullptr;
        EXPECT_EQ(FindRelayBoard(&handle, "ANY"), DEVICE_LIST_FAILED);
        EXPECT_EQ(handle, nullptr);
    }
}

TEST_F(LinuxHidraw, DetailReportsItsSizeFirstAndChecksTheHeaderSize) {
    AddRelayBoard(root, 7, "A");
    HDEVINFO list = OpenHidList();
    GUID guid;
    HidD_GetHidGuid(&guid);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data) + 4;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, nullptr, 0, &data));
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));

    const std::string path = DevPath(7);
    const auto expected =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr));
    ASSERT_EQ(required, expected);

    const unsigned char untouched = 0xEE;
    std::vector<unsigned char> buffer(required + 8, untouched);
    auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = required;  // the buffer's size instead of the header's
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(buffer[required - 1], untouched);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::string(detail->DevicePath), path);
    EXPECT_EQ(buffer[required], untouched);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

// The attachment is the name of the node's HID device, which the kernel
// numbers anew for each device it adds, also at a node that keeps its name.
TEST_F(LinuxHidraw, AttachmentIsTheNameOfTheNodesHidDevice) {
    AddRelayBoard(root, 7, "A");
    HDEVINFO list = OpenHidList();
    SP_DEVICE_INTERFACE_DATA data = {sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0};
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &HID_INTERFACE_CLASS, 0, &data));
    char text[INTERFACE_ATTACHMENT_BYTES] = "untouched";
    EXPECT_FALSE(GetInterfaceAttachment(list, &data, text, 19)) << "no room for the zero";
    EXPECT_FALSE(GetInterfaceAttachment(&data, &data, text, sizeof text)) << "not a list";
    EXPECT_STREQ(text, "untouched");
    ASSERT_TRUE(GetInterfaceAttachment(list, &data, text, sizeof text));
    EXPECT_STREQ(text,
                 ("0003:" + Hex(RELAY_VENDOR_ID, 4) + ":" + Hex(RELAY_PRODUCT_ID, 4) + ".0007").c_str());

    const std::string charLink = root + "/sys/dev/char/240:7";
    ASSERT_EQ(unlink(charLink.c_str()), 0);
    EXPECT_FALSE(GetInterfaceAttachment(list, &data, text, sizeof text)) << "a node gone from sysfs";
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

// Paths are built in fixed buffers: roots too long for any path find nothing
// and write nothing past a buffer; a class folder that cannot be named fails
// the list.
TEST_F(LinuxHidraw, RootsTooLongForAPathFindNothing) {
    AddRelayBoard(root, 0, "A");
    const std::string tooLong = root + "/" + std::string(5000, 'x');
    SetHidrawRootsForTests(tooLong.c_str(), (root + "/dev").c_str());
    errno = 0;
    EXPECT_EQ(OpenHidList(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(errno, ENAMETOOLONG);

    SetHidrawRootsForTests((root + "/sys").c_str(), tooLong.c_str());
    HDEVINFO list = OpenHidList();
    GUID guid;
    HidD_GetHidGuid(&guid);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(required, 0u) << "no size for a path that cannot be built";
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    HidHandle handle = nullptr;
    EXPECT_EQ(FindRelayBoard(&handle, "ANY"), DEVICE_NOT_FOUND);
}

// Discovery, unchanged, on top of this backend: boards in node order, the
// ones that cannot be opened or read passed over.
TEST_F(LinuxHidraw, DiscoveryFindsTheBoardsThroughThisBackend) {
    AddRelayBoard(root, 10, "B");
    AddRelayBoard(root, 2, "A");
    AddRelayBoard(root, 1, nullptr);
    AddRelayBoard(root, 3, "C");
    ASSERT_EQ(unlink(DevPath(3).c_str()), 0);
    AddUsbHidNode(root, 0, 9, 0x1234, 0x5678, {RELAY_MANUFACTURER, RELAY_PRODUCT, "D"});

    std::string listed;
    EXPECT_EQ(ListRelayBoards(&listed), DEVICE_NOT_FOUND);
    EXPECT_EQ(listed, "A\nB\n");
    HidHandle handle = nullptr;

    const struct {
        const char *selector;
        const char16_t *serial;
    } selections[] = {{"B", u"B"}, {"ANY", u"A"}};
    for (const auto &selection : selections) {
        ASSERT_EQ(FindRelayBoard(&handle, selection.selector), DEVICE_OK);
        EXPECT_EQ(ReadString(HidD_GetSerialNumberString, handle), selection.serial);
        EXPECT_TRUE(CloseHandle(handle));
    }
    EXPECT_EQ(FindRelayBoard(&handle, "C"), DEVICE_NOT_FOUND);
}

}  // namespace
