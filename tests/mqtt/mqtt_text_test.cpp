// The bridge's texts: command payloads, names that may stand in topics, the
// JSON it writes, its topics and the Home Assistant discovery messages.
#include <gtest/gtest.h>

#include "mqtt/ha_discovery.h"
#include "mqtt/log.h"
#include "mqtt/payloads.h"
#include "mqtt/topics.h"

namespace {

TEST(StatePayload, TakesZeroTo255InDecimalAndNothingElse) {
    const struct Case {
        const char *payload;
        int state;  // -1: refused
    } cases[] = {
        {"0", 0},     {"5", 5},     {"255", 255}, {"007", 7},  {"256", -1}, {"999", -1},
        {"1000", -1}, {"", -1},     {"-1", -1},   {"+1", -1},  {" 5", -1},  {"5 ", -1},
        {"5\n", -1},  {"0x10", -1}, {"abc", -1},  {"1e2", -1}, {"5.0", -1},
    };
    for (const Case &c : cases) {
        unsigned char state = 99;
        bool taken = ParseStatePayload(c.payload, &state);
        EXPECT_EQ(taken, c.state >= 0) << "payload \"" << c.payload << "\"";
        if (taken) {
            EXPECT_EQ(state, c.state) << c.payload;
        }
    }
    unsigned char state = 0;
    EXPECT_FALSE(ParseStatePayload(std::string("1\0", 2), &state)) << "an embedded zero byte";
}

TEST(RelayPayload, TakesOnOffToggleExactly) {
    RelayCommand command = RELAY_OFF;
    EXPECT_TRUE(ParseRelayCommand("ON", &command));
    EXPECT_EQ(command, RELAY_ON);
    EXPECT_TRUE(ParseRelayCommand("OFF", &command));
    EXPECT_EQ(command, RELAY_OFF);
    EXPECT_TRUE(ParseRelayCommand("TOGGLE", &command));
    EXPECT_EQ(command, RELAY_TOGGLE);
    for (const char *bad : {"on", "Off", "ON ", "1", "0", "", "true", "TOGGLE\n"}) {
        EXPECT_FALSE(ParseRelayCommand(bad, &command)) << bad;
    }
}

TEST(Names, SerialsAndHostIdsThatCanBeTopicLevels) {
    for (const char *good : {"1700000001", "a", "lab-1.rack_2", "-", "."}) {
        EXPECT_TRUE(IsBridgeableSerial(good)) << good;
    }
    for (const char *bad : {"", "a/b", "a+", "#", "a b", "caf\xe9", "x\n", "\x9b"}) {
        EXPECT_FALSE(IsBridgeableSerial(bad)) << bad;
    }
    EXPECT_TRUE(IsBridgeableSerial(std::string(MAX_BRIDGED_SERIAL, 'x')));
    EXPECT_FALSE(IsBridgeableSerial(std::string(MAX_BRIDGED_SERIAL + 1, 'x')));

    EXPECT_TRUE(IsValidHostId("lab_1-a"));
    EXPECT_FALSE(IsValidHostId("lab.1"));
    EXPECT_FALSE(IsValidHostId(""));
    EXPECT_EQ(ReduceHostName("build-01.lab.example.com"), "build-01labexamplecom");
    EXPECT_EQ(ReduceHostName("..."), "");
    EXPECT_EQ(ReduceHostName(std::string(100, 'h')).size(), MAX_HOST_ID);
}

TEST(Json, AnyBytesGiveAValidString) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString(std::string("\n\x01\x7f\xe9\0", 5)), "\"\\u000a\\u0001\\u007f\\u00e9\\u0000\"");
    EXPECT_EQ(JsonStringArray({}), "[]");
    EXPECT_EQ(JsonStringArray({"a", "b"}), "[\"a\", \"b\"]");
    EXPECT_EQ(ShortenedPayload("abcdef", 3), "abc...");
    EXPECT_EQ(ShortenedPayload("abc", 3), "abc");
}

TEST(Log, ControlCharactersCannotForgeLinesOrDriveTheTerminal) {
    char line[] = "topic a\nrxb540-mqtt: forged\x1b[2J\r\x7f caf\xc3\xa9";
    MakeLogLineSafe(line);
    EXPECT_STREQ(line, "topic a?rxb540-mqtt: forged?[2J?? caf\xc3\xa9");
}

TEST(Topics, CommandTopicsBelowThisHostOnly) {
    TopicNames names = MakeTopicNames("lab/relays", "h1");
    EXPECT_EQ(StateCommandFilter(names), "lab/relays/h1/+/set");
    EXPECT_EQ(RelayCommandFilter(names), "lab/relays/h1/+/relay/+/set");
    EXPECT_EQ(RelayTopic(names, "S1", 3), "lab/relays/h1/S1/relay/3");

    const struct Case {
        const char *topic;
        CommandKind kind;
        const char *serial;
        const char *relay;
    } cases[] = {
        {"lab/relays/h1/S1/set", COMMAND_STATE, "S1", ""},
        {"lab/relays/h1/S1/relay/2/set", COMMAND_RELAY, "S1", "2"},
        {"lab/relays/h1/S1/relay/x/set", COMMAND_RELAY, "S1", "x"},
        {"lab/relays/h2/S1/set", COMMAND_NONE, "", ""},
        {"lab/relays/h1/S1/state", COMMAND_NONE, "", ""},
        {"lab/relays/h1//set", COMMAND_NONE, "", ""},
        {"lab/relays/h1/S1/relay//set", COMMAND_NONE, "", ""},
        {"lab/relays/h1/S1/relay/1/2/set", COMMAND_NONE, "", ""},
        {"lab/relays/h1/set", COMMAND_NONE, "", ""},
    };
    for (const Case &c : cases) {
        CommandTopic command = ParseCommandTopic(names, c.topic);
        EXPECT_EQ(command.kind, c.kind) << c.topic;
        EXPECT_EQ(command.serial, c.serial) << c.topic;
        EXPECT_EQ(command.relayText, c.relay) << c.topic;
    }
    EXPECT_EQ(ParseRelayNumber("1", 4), 1);
    EXPECT_EQ(ParseRelayNumber("4", 4), 4);
    EXPECT_EQ(ParseRelayNumber("5", 4), 0);
    EXPECT_EQ(ParseRelayNumber("0", 8), 0);
    EXPECT_EQ(ParseRelayNumber("01", 8), 0);
    EXPECT_EQ(ParseRelayNumber("9", 8), 0);
}

TEST(HomeAssistant, OneSwitchPerRelayWithBothAvailabilityTopics) {
    TopicNames names = MakeTopicNames("rxb540", "h1");
    EXPECT_EQ(DiscoveryTopic("homeassistant", "h1", "S.1", 2),
              "homeassistant/switch/rxb540_h1_S_1/relay2/config");
    std::string payload = DiscoveryPayload(names, "h1", "S.1", 2);
    for (const char *part :
         {"\"unique_id\": \"rxb540_h1_S.1_relay2\"", "\"command_topic\": \"rxb540/h1/S.1/relay/2/set\"",
          "\"state_topic\": \"rxb540/h1/S.1/relay/2\"",
          "[{\"topic\": \"rxb540/h1/status\"}, {\"topic\": \"rxb540/h1/S.1/availability\"}]",
          "\"availability_mode\": \"all\"", "\"identifiers\": [\"rxb540_h1_S.1\"]"}) {
        EXPECT_NE(payload.find(part), std::string::npos) << part << " in " << payload;
    }
}

}  // namespace
