#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "board_commands.h"
#include "configfs_gadget.h"
#include "gadget_description.h"
#include "support/temp_dir.h"

namespace {

BoardCommand Decode(const std::vector<unsigned char> &report) {
    return DecodeBoardReport(report.data(), report.size());
}

std::vector<unsigned char> SerialReport(const std::string &text, std::size_t length = BOARD_REPORT_BYTES) {
    std::vector<unsigned char> report(length, 0);
    report[0] = BOARD_COMMAND_SET_SERIAL;
    for (std::size_t i = 0; i < text.size() && i + 1 < length; ++i) {
        report[i + 1] = static_cast<unsigned char>(text[i]);
    }
    return report;
}

}  // namespace

TEST(BoardCommands, SetStateTakesTheByteAfterTheCommand) {
    std::vector<unsigned char> report(BOARD_REPORT_BYTES, 0);
    report[0] = 0x31;
    report[1] = 0xff;
    BoardCommand command = Decode(report);
    EXPECT_EQ(command.kind, BOARD_SET_STATE);
    EXPECT_EQ(command.state, 255);
}

TEST(BoardCommands, SetSerialTakesTheTextUpToItsZero) {
    std::vector<unsigned char> report = SerialReport("1712345678");
    report[12] = '9';  // after the terminating zero: not part of the text
    BoardCommand command = Decode(report);
    EXPECT_EQ(command.kind, BOARD_SET_SERIAL);
    EXPECT_EQ(command.serial, "1712345678");
}

TEST(BoardCommands, SetSerialWithoutZeroEndsAtTheLastByte) {
    BoardCommand command = Decode(SerialReport("ABCDEFGHIJKLMNOPQRS"));
    EXPECT_EQ(command.kind, BOARD_SET_SERIAL);
    EXPECT_EQ(command.serial, "ABCDEFGHIJKLMNO");
}

TEST(BoardCommands, ReportsThatNoBoardWouldActOnAreIgnored) {
    EXPECT_EQ(Decode({0x31}).reason, "short-report");
    EXPECT_EQ(Decode({}).reason, "short-report");
    EXPECT_EQ(Decode({0x32, 0x05}).reason, "unknown-command");
    EXPECT_EQ(Decode({0x00, 0x31, 0x05}).reason, "unknown-command");
    EXPECT_EQ(Decode(SerialReport("")).reason, "bad-serial");
    EXPECT_EQ(Decode(SerialReport("12 34")).reason, "bad-serial");
    EXPECT_EQ(Decode(SerialReport("12\n34")).reason, "bad-serial");
    EXPECT_EQ(Decode(SerialReport("12\x80")).kind, BOARD_IGNORED);
    EXPECT_EQ(Decode(SerialReport("12\xc3")).kind, BOARD_IGNORED);      // truncated
    EXPECT_EQ(Decode(SerialReport("\xc0\xb1")).kind, BOARD_IGNORED);    // overlong '1'
    EXPECT_EQ(Decode(SerialReport("12\xc2\x85")).kind, BOARD_IGNORED);  // U+0085, a control
    EXPECT_EQ(Decode(SerialReport("17\xc3\xa9")).serial, "17\xc3\xa9");
}

TEST(BoardCommands, HexBytesWritesTwoLowerCaseDigitsPerByte) {
    const unsigned char bytes[] = {0x82, 0x0a, 0x00, 0xff};
    EXPECT_EQ(HexBytes(bytes, sizeof bytes), "820a00ff");
    EXPECT_EQ(HexBytes(bytes, 0), "");
}

TEST(GadgetDescription, BoardsHaveTheBoardIdentityAndTheGivenSerial) {
    for (const std::string kind : {"board", "refusing"}) {
        GadgetDescription description;
        std::string error;
        ASSERT_TRUE(ParseGadgetDescription(kind + ":1712345678", &description, &error)) << error;
        EXPECT_TRUE(description.isBoard);
        EXPECT_EQ(description.refusesReports, kind == "refusing");
        EXPECT_EQ(description.vendorId, 0x16c0);
        EXPECT_EQ(description.productId, 0x05df);
        EXPECT_EQ(description.manufacturer, RXB540_TEST_MANUFACTURER);
        EXPECT_EQ(description.product, "RXB540");
        EXPECT_EQ(description.serial, "1712345678");
    }
}

TEST(GadgetDescription, NoserialIsABoardWithoutSerial) {
    GadgetDescription description;
    std::string error;
    ASSERT_TRUE(ParseGadgetDescription("noserial", &description, &error)) << error;
    EXPECT_TRUE(description.isBoard);
    EXPECT_FALSE(description.refusesReports);
    EXPECT_EQ(description.vendorId, 0x16c0);
    EXPECT_EQ(description.product, "RXB540");
    EXPECT_EQ(description.serial, "");
    EXPECT_FALSE(ParseGadgetDescription("noserial:1", &description, &error));
}

TEST(GadgetDescription, HidTakesEveryField) {
    GadgetDescription description;
    std::string error;
    ASSERT_TRUE(ParseGadgetDescription("hid:1209:05DF:Other Maker:Thing 2:S-1", &description, &error))
        << error;
    EXPECT_FALSE(description.isBoard);
    EXPECT_FALSE(description.refusesReports);
    EXPECT_EQ(description.vendorId, 0x1209);
    EXPECT_EQ(description.productId, 0x05df);
    EXPECT_EQ(description.manufacturer, "Other Maker");
    EXPECT_EQ(description.product, "Thing 2");
    EXPECT_EQ(description.serial, "S-1");
}

TEST(GadgetDescription, MalformedGadgetsAreRefusedWithAReason) {
    const char *bad[] = {
        "board",
        "board:",
        "board:12 34",
        "board:1:2",
        "refusing:",
        "hid:1209:05df:maker:product",
        "hid:10000:05df:maker:product:1",
        "hid:12x9:05df:maker:product:1",
        "hid::05df:maker:product:1",
        "hid:1209:05df::product:1",
        "hid:1209:05df:maker\t:product:1",
        "board:12\xed\xa0\x80",      // a surrogate
        "board:12\xf4\x90\x80\x80",  // beyond U+10FFFF
        "keyboard:1",
        "",
    };
    for (const char *text : bad) {
        GadgetDescription description;
        std::string error;
        EXPECT_FALSE(ParseGadgetDescription(text, &description, &error)) << text;
        EXPECT_NE(error, "") << text;
    }
    GadgetDescription description;
    std::string error;
    EXPECT_FALSE(ParseGadgetDescription("board:" + std::string(127, '7'), &description, &error));
    EXPECT_TRUE(ParseGadgetDescription("board:" + std::string(126, '7'), &description, &error));
    EXPECT_TRUE(ParseGadgetDescription("hid:1209:05df:Gr\xc3\xbcn AG:RXB540:1717200000\xc3\xa9", &description,
                                       &error));
    EXPECT_EQ(description.serial, "1717200000\xc3\xa9");
}

TEST(ConfigfsGadget, ControllersAreListedInNaturalOrder) {
    std::string dir = MakeTempDir();
    for (const char *name : {"dummy_udc.10", "dummy_udc.2", "fe980000.usb", "dummy_udc.0", "dummy_udc.1"}) {
        ASSERT_EQ(mkdir((dir + "/" + name).c_str(), 0755), 0);
    }
    std::vector<std::string> expected = {"dummy_udc.0", "dummy_udc.1", "dummy_udc.2", "dummy_udc.10",
                                         "fe980000.usb"};
    EXPECT_EQ(ListUdcs(dir), expected);
    EXPECT_TRUE(ListUdcs(dir + "/absent").empty());
    RemoveTree(dir);
}
