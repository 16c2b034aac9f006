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

TEST(RelayPayload, TakesOnOffTogglePulseExactly) {
    const struct Case {
        const char *payload;
        int command;  // -1: refused
        long pulseMs;
    } cases[] = {
        {"ON", RELAY_ON, 0},
        {"OFF", RELAY_OFF, 0},
        {"TOGGLE", RELAY_TOGGLE, 0},
        {"PULSE", RELAY_PULSE, 0},
        {"PULSE 1", RELAY_PULSE, 1},
        {"PULSE 3600000", RELAY_PULSE, 3600000},
        {"PULSE 250", RELAY_PULSE, 250},
        {"PULSE 0", -1, 0},
        {"PULSE 3600001", -1, 0},
        {"PULSE  5", -1, 0},
        {"PULSE 5 ", -1, 0},
        {"PULSE ", -1, 0},
        {"PULSEX", -1, 0},
        {"pulse", -1, 0},
        {"PULSE -5", -1, 0},
        {"PULSE 10000000", -1, 0},
        {"on", -1, 0},
        {"Off", -1, 0},
        {"ON ", -1, 0},
        {"1", -1, 0},
        {"", -1, 0},
        {"TOGGLE\n", -1, 0},
    };
    for (const Case &c : cases) {
        RelayCommand command = RELAY_OFF;
        long pulseMs = -1;
        const bool taken = ParseRelayCommand(c.payload, &command, &pulseMs);
        EXPECT_EQ(taken, c.command >= 0) << c.payload;
        if (taken) {
            EXPECT_EQ(command, c.command) << c.payload;
            EXPECT_EQ(pulseMs, c.pulseMs) << c.payload;
        }
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
        {"lab/relays/h1/S1/forget", COMMAND_FORGET, "S1", ""},
        {"lab/relays/h1/S1/x/forget", COMMAND_NONE, "", ""},
        {"lab/relays/h1/set", COMMAND_NONE, "", ""},
    };
    for (const Case &c : cases) {
        CommandTopic command = ParseCommandTopic(names, c.topic);
        EXPECT_EQ(command.kind, c.kind) << c.topic;
        EXPECT_EQ(command.serial, c.serial) << c.topic;
        EXPECT_EQ(command.relayText, c.relay) << c.topic;
    }
    EXPECT_EQ(BoardOfTopic(names, "lab/relays/h1/S.1/state", "state"), "S.1");
    EXPECT_EQ(BoardOfTopic(names, "lab/relays/h1/S1/info", "state"), "");
    EXPECT_EQ(BoardOfTopic(names, "lab/relays/h1//state", "state"), "");
    EXPECT_EQ(BoardOfTopic(names, "lab/relays/h1/a/b/state", "state"), "");
    EXPECT_EQ(BoardOfTopic(names, "lab/relays/h2/S1/state", "state"), "");
    EXPECT_EQ(ParseRelayNumber("1", 4), 1);
    EXPECT_EQ(ParseRelayNumber("4", 4), 4);
    EXPECT_EQ(ParseRelayNumber("5", 4), 0);
    EXPECT_EQ(ParseRelayNumber("0", 8), 0);
    EXPECT_EQ(ParseRelayNumber("01", 8), 0);
    EXPECT_EQ(ParseRelayNumber("9", 8), 0);
}

TEST(HomeAssistant, OneSwitchAndOneButtonPerRelayWithBothAvailabilityTopics) {
    TopicNames names = MakeTopicNames("rxb540", "h1");
    EXPECT_EQ(DiscoveryTopic("homeassistant", "h1", "S.1", 2),
              "homeassistant/switch/rxb540_h1_S_1/relay2/config");
    EXPECT_EQ(ButtonDiscoveryTopic("homeassistant", "h1", "S.1", 2),
              "homeassistant/button/rxb540_h1_S_1/relay2_pulse/config");
    EXPECT_EQ(RelayObjectId("Lab-1", "Ab.9_z", 3), "rxb540_lab_1_ab_9_z_relay3");
    BoardSettings settings;
    settings.name = "Rack \"A\" \xc3\xa9";
    settings.relayNames[0] = "Relay 1";
    settings.relayNames[1] = "Motor up";
    settings.relays = 2;
    const std::string common[] = {
        "[{\"topic\": \"rxb540/h1/status\"}, {\"topic\": \"rxb540/h1/S.1/availability\"}]",
        "\"availability_mode\": \"all\"",
        "\"identifiers\": [\"rxb540_h1_S.1\"]",
        "\"name\": \"Rack \\\"A\\\" \xc3\xa9\"",
        "\"manufacturer\": \"",
        "\"sw_version\": \"",
        "\"origin\": {\"name\": \"rxb540-mqtt\", \"sw\": \"",
        "\"command_topic\": \"rxb540/h1/S.1/relay/2/set\""};
    const std::string switchPayload = DiscoveryPayload(names, "h1", "S.1", settings, 2);
    const std::string buttonPayload = ButtonDiscoveryPayload(names, "h1", "S.1", settings, 2);
    for (const std::string &part : common) {
        EXPECT_NE(switchPayload.find(part), std::string::npos) << part << " in " << switchPayload;
        EXPECT_NE(buttonPayload.find(part), std::string::npos) << part << " in " << buttonPayload;
    }
    for (const char *part :
         {"{\"name\": \"Motor up\", \"unique_id\": \"rxb540_h1_S.1_relay2\"",
          "\"default_entity_id\": \"switch.rxb540_h1_s_1_relay2\", \"object_id\": \"rxb540_h1_s_1_relay2\"",
          "\"state_topic\": \"rxb540/h1/S.1/relay/2\""}) {
        EXPECT_NE(switchPayload.find(part), std::string::npos) << part << " in " << switchPayload;
    }
    for (const char *part :
         {"{\"name\": \"Motor up pulse\", \"unique_id\": \"rxb540_h1_S.1_relay2_pulse\"",
          "\"default_entity_id\": \"button.rxb540_h1_s_1_relay2_pulse\"", "\"payload_press\": \"PULSE\""}) {
        EXPECT_NE(buttonPayload.find(part), std::string::npos) << part << " in " << buttonPayload;
    }
    EXPECT_EQ(InfoPayload(settings),
              "{\"name\": \"Rack \\\"A\\\" \xc3\xa9\", \"relays\": 2, \"relay_names\": [\"Relay 1\", \"Motor "
              "up\"]}");
}

}  // namespace
