// The bridge's bookkeeping: the configuration file, the registry of boards
// across scans, and the pacing of connection attempts.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "mqtt/backoff.h"
#include "mqtt/board_registry.h"
#include "mqtt/config.h"
#include "support/temp_dir.h"

namespace {

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = MakeTempDir();
        secret = dir + "/secret";
        WriteTextFile(secret, "s3cret\nsecond line\n");
        chmod(secret.c_str(), 0600);
    }
    void TearDown() override {
        RemoveTree(dir);
    }
    // Loads text as the file; returns the error, or "" with config filled in.
    std::string Load(const std::string &text, BridgeConfig *config, const std::string &host = "lab.host-1") {
        std::string path = dir + "/mqtt.conf";
        WriteTextFile(path, text);
        std::string error;
        if (LoadConfig(path, host, config, &error)) {
            return "";
        }
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
        EXPECT_EQ(error.compare(0, path.size(), path), 0) << "names the file: " << error;
        return error.substr(path.size());
    }
    std::string dir;
    std::string secret;
};

TEST_F(ConfigFile, DefaultsAndEveryKey) {
    BridgeConfig config;
    ASSERT_EQ(Load("# nothing\n\n   \n", &config), "");
    EXPECT_EQ(config.brokerHost, "localhost");
    EXPECT_EQ(config.brokerPort, 1883);
    EXPECT_EQ(config.hostId, "labhost-1");
    EXPECT_EQ(config.baseTopic, "rxb540");
    EXPECT_EQ(config.discoveryPrefix, "homeassistant");
    EXPECT_EQ(config.relays, 8);
    EXPECT_EQ(config.rescanSeconds, 2);
    EXPECT_EQ(config.healthSeconds, 60);
    EXPECT_EQ(config.initialState, INITIAL_RESTORE);
    EXPECT_EQ(config.pulseMs, 1000);
    EXPECT_FALSE(config.hasPassword);

    BridgeConfig full;
    ASSERT_EQ(Load("broker-host  mqtt.lab\t\r\n  broker-port 1884\nhost-id h_1\nbase-topic lab/relays\n"
                   "username bridge\npassword-file " +
                       secret +
                       "\ndiscovery-prefix none\nrelays 4\nrescan-interval 10\ninitial-state "
                       "0\nhealth-interval 3600\npulse-ms 3600000\n"
                       "cafile " +
                       secret + "\n",
                   &full),
              "");
    EXPECT_EQ(full.brokerHost, "mqtt.lab");
    EXPECT_EQ(full.brokerPort, 1884);
    EXPECT_EQ(full.hostId, "h_1");
    EXPECT_EQ(full.baseTopic, "lab/relays");
    EXPECT_EQ(full.username, "bridge");
    EXPECT_EQ(full.password, "s3cret");
    EXPECT_EQ(full.discoveryPrefix, "");
    EXPECT_EQ(full.relays, 4);
    EXPECT_EQ(full.rescanSeconds, 10);
    EXPECT_EQ(full.healthSeconds, 3600);
    EXPECT_EQ(full.initialState, 0);
    EXPECT_EQ(full.pulseMs, 3600000);

    BridgeConfig tls;
    ASSERT_EQ(Load("cafile " + secret + "\n", &tls), "");
    EXPECT_EQ(tls.brokerPort, 8883) << "TLS changes the default port";
}

TEST_F(ConfigFile, EachFaultNamesTheLineAndTheReason) {
    const struct Case {
        std::string text;
        const char *error;  // after the file name
    } cases[] = {
        {"colour red\n", ":1: unknown key: \"colour\""},
        {"# c\nrelays 4\nrelays 5\n", ":3: repeated key: relays (first on line 2)"},
        {"relays\n", ":1: relays needs a value"},
        {"relays 9\n", ":1: relays: must be a whole number from 1 to 8"},
        {"relays 0\n", ":1: relays: must be a whole number from 1 to 8"},
        {"relays 4 # four\n", ":1: relays: must be a whole number from 1 to 8"},
        {"broker-port 65536\n", ":1: broker-port: must be a whole number from 1 to 65535"},
        {"broker-port -1\n", ":1: broker-port: must be a whole number from 1 to 65535"},
        {"rescan-interval 0\n", ":1: rescan-interval: must be a whole number from 1 to 3600"},
        {"health-interval 3601\n", ":1: health-interval: must be a whole number from 1 to 3600"},
        {"initial-state 256\n",
         ":1: initial-state: must be restore, unknown or a whole number from 0 to 255"},
        {"pulse-ms 0\n", ":1: pulse-ms: must be a whole number from 1 to 3600000"},
        {"board S1\n", ":1: board S1 needs a key: relays, initial-state, name, relay, interlock or pulse-ms"},
        {"board S1 colour red\n",
         ":1: board S1 colour: unknown key \"colour\": a board line sets relays, "
         "initial-state, name, relay, interlock or pulse-ms"},
        {"board a/b relays 2\n",
         ":1: board: the serial \"a/b\" is not 1 to 64 characters of A-Z a-z 0-9 . _ -"},
        {"board S1 relays\n", ":1: board S1 relays needs a value"},
        {"board S1 relays 9\n", ":1: board S1 relays: must be a whole number from 1 to 8"},
        {"board S1 pulse-ms 3600001\n", ":1: board S1 pulse-ms: must be a whole number from 1 to 3600000"},
        {"board S1 initial-state on\n", ":1: board S1 initial-state: must be restore, unknown or 0 to 255"},
        {"board S1 relay 9 x\n", ":1: board S1 relay: must be a relay 1 to 8 and its name"},
        {"board S1 relay 2 a\x01b\n",
         ":1: board S1 relay: the name of relay 2 must be 1 to 64 bytes of UTF-8 without control characters"},
        {"board S1 name caf\xe9\n",
         ":1: board S1 name: must be 1 to 64 bytes of UTF-8 without control characters"},
        {"board S1 name " + std::string(65, 'n') + "\n",
         ":1: board S1 name: must be 1 to 64 bytes of UTF-8 without control characters"},
        {"board S1 interlock 1\n",
         ":1: board S1 interlock: must be 2 to 8 different relays 1 to 8 separated "
         "by commas, such as 1,2"},
        {"board S1 interlock 1,1\n",
         ":1: board S1 interlock: must be 2 to 8 different relays 1 to 8 "
         "separated by commas, such as 1,2"},
        {"board S1 interlock 1,9\n",
         ":1: board S1 interlock: must be 2 to 8 different relays 1 to 8 "
         "separated by commas, such as 1,2"},
        {"board S1 relays 2\nboard S2 relays 2\nboard S1 relays 3\n",
         ":3: repeated key: board S1 relays (first on line 1)"},
        {"board S1 relay 2 a\nboard S1 relay 2 b\n", ":2: repeated key: board S1 relay 2 (first on line 1)"},
        {"relays 4\nboard S1 relay 5 x\n", ":2: board S1: a relay beyond its 4 relays"},
        {"board S1 interlock 1,2\nboard S1 interlock 3,5\nboard S1 relays 4\n",
         ":2: board S1: a relay beyond its 4 relays"},
        {"board S1 interlock 1,2\ninitial-state 3\n",
         ":2: board S1: initial-state 3 puts relays of one interlock group on together"},
        {"board S1 interlock 2,3\nboard S1 initial-state 6\ninitial-state 3\n",
         ":2: board S1: initial-state 6 puts relays of one interlock group on together"},
        {"host-id lab.1\n", ":1: host-id: must be 1 to 64 characters of A-Z a-z 0-9 _ -: \"lab.1\""},
        {"base-topic a/+/b\n",
         ":1: base-topic: a topic prefix has no wildcard (+ #) and no control character: \"a/+/b\""},
        {"base-topic /a\n",
         ":1: base-topic: a topic prefix has no empty level (no leading, trailing or double '/'): \"/a\""},
        {"discovery-prefix ha//x\n",
         ":1: discovery-prefix: a topic prefix has no empty level (no leading, trailing or double '/'): "
         "\"ha//x\""},
        {"\n\npassword-file " + secret + "\n", ":3: password-file needs username"},
        {"password-file /nonexistent/pw\n",
         ":1: password-file: cannot read /nonexistent/pw: No such file or directory"},
        {"cafile /nonexistent/ca\n", ":1: cafile: cannot read /nonexistent/ca: No such file or directory"},
        {"certfile " + secret + "\n", ":1: certfile and keyfile go together"},
        {"certfile " + secret + "\nkeyfile " + secret + "\n", ":1: certfile needs cafile (TLS)"},
        {"allow-plaintext-password 1\n", ":1: allow-plaintext-password: must be yes or no"},
        {"broker-host mqtt.lab\nusername u\npassword-file " + secret + "\n",
         ":3: password-file without cafile would send the password unencrypted to \"mqtt.lab\": set cafile "
         "to use TLS, or allow-plaintext-password yes if the network is trusted"},
    };
    for (const Case &c : cases) {
        BridgeConfig config;
        EXPECT_EQ(Load(c.text, &config), c.error) << c.text;
    }
    BridgeConfig config;
    EXPECT_EQ(Load("", &config, "..."),
              ": the host name \"...\" has no character of A-Z a-z 0-9 _ -: set host-id");
    // Without a file, the one line says where an example is.
    std::string error;
    EXPECT_FALSE(LoadConfig("/nonexistent/mqtt.conf", "h", &config, &error));
    EXPECT_EQ(error,
              "/nonexistent/mqtt.conf: cannot read: No such file or directory (the example: "
              "packaging/mqtt/mqtt.conf in the source, which the rxb540-mqtt package installs as "
              "/etc/rxb540/mqtt.conf; --config FILE names another)");
}

TEST_F(ConfigFile, CredentialFilesReadableByOthersAreRefused) {
    for (mode_t mode : {0640, 0604, 0644}) {
        chmod(secret.c_str(), mode);
        char expected[16];
        std::snprintf(expected, sizeof expected, "(mode %04o)", static_cast<unsigned>(mode));
        for (const char *key : {"password-file", "keyfile"}) {
            BridgeConfig config;
            std::string error = Load(std::string("username u\n") + key + " " + secret + "\n", &config);
            EXPECT_NE(error.find(":2: " + std::string(key) + ": " + secret +
                                 " can be read by others than its owner"),
                      std::string::npos)
                << error;
            EXPECT_NE(error.find(expected), std::string::npos) << error;
        }
    }
    chmod(secret.c_str(), 0400);
    BridgeConfig config;
    EXPECT_EQ(Load("username u\npassword-file " + secret + "\n", &config), "");
    WriteTextFile(secret, "\n");
    EXPECT_EQ(Load("username u\npassword-file " + secret + "\n", &config),
              ":2: password-file: " + secret + " holds no password on its first line");
}

TEST_F(ConfigFile, PasswordWithoutTlsGoesOnlyToLoopbackUnlessAllowed) {
    for (const char *host :
         {"localhost", "LocalHost", "127.0.0.1", "127.254.3.9", "::1", "0:0:0:0:0:0:0:1"}) {
        EXPECT_TRUE(IsLoopbackBroker(host)) << host;
    }
    for (const char *host : {"128.0.0.1", "127.1", "localhost.example", "127.0.0.1.example", "::2",
                             "::ffff:10.0.0.1", "mqtt.lab"}) {
        EXPECT_FALSE(IsLoopbackBroker(host)) << host;
    }
    EXPECT_FALSE(IsLoopbackBroker(std::string("127.0.0.1\0.example", 18)));
    const std::string credentials = "username u\npassword-file " + secret + "\n";
    for (const std::string &allowed : {std::string("broker-host 127.0.0.2\n"),
                                       std::string("broker-host mqtt.lab\nallow-plaintext-password yes\n"),
                                       "broker-host mqtt.lab\ncafile " + secret + "\n"}) {
        BridgeConfig config;
        EXPECT_EQ(Load(allowed + credentials, &config), "") << allowed;
    }
    BridgeConfig config;
    EXPECT_NE(Load("broker-host mqtt.lab\nallow-plaintext-password no\n" + credentials, &config), "");
}

TEST_F(ConfigFile, BoardLinesOverrideTheGlobalKeysForOneBoard) {
    BridgeConfig config;
    ASSERT_EQ(Load("relays 4\npulse-ms 500\ninitial-state unknown\nboard S1 relays 2\nboard S1 name Rack "
                   "\"A\" \xc3\xa9\n"
                   "board S1 relay 2 Motor up  \nboard S1 interlock 1,2\nboard S1 pulse-ms 20\n"
                   "board S2 interlock 1,3,4\nboard S2 interlock 2,3\nboard S2 initial-state 2\n",
                   &config),
              "");
    const BoardSettings s1 = SettingsFor(config, "S1");
    EXPECT_EQ(s1.relays, 2);
    EXPECT_EQ(s1.pulseMs, 20);
    EXPECT_EQ(s1.initialState, INITIAL_UNKNOWN);
    EXPECT_EQ(s1.name, "Rack \"A\" \xc3\xa9");
    EXPECT_EQ(s1.relayNames[0], "Relay 1");
    EXPECT_EQ(s1.relayNames[1], "Motor up");
    EXPECT_EQ(s1.interlocks, std::vector<unsigned>{0x3});
    const BoardSettings s2 = SettingsFor(config, "S2");
    EXPECT_EQ(s2.relays, 4);
    EXPECT_EQ(s2.pulseMs, 500);
    EXPECT_EQ(s2.initialState, 2);
    EXPECT_EQ(s2.interlocks, (std::vector<unsigned>{0xD, 0x6}));
    const BoardSettings other = SettingsFor(config, "S3");
    EXPECT_EQ(other.name, "RXB540 S3 on labhost-1");
    EXPECT_TRUE(other.interlocks.empty());

    // Interlock arithmetic on S2's groups {1,3,4} and {2,3}.
    const struct Case {
        unsigned state;
        bool breaks;
    } states[] = {{0x0, false}, {0x1, false}, {0x3, false},  {0x5, true},   {0x6, true},
                  {0x9, true},  {0xA, false}, {0xF0, false}, {0x12, false}, {0x0D, true}};
    for (const Case &c : states) {
        EXPECT_EQ(BreaksInterlock(s2.interlocks, c.state), c.breaks) << c.state;
    }
    EXPECT_EQ(InterlockPartners(s2.interlocks, 3), 0xBu) << "relays 1, 2 and 4";
    EXPECT_EQ(InterlockPartners(s2.interlocks, 1), 0xCu);
    EXPECT_EQ(InterlockPartners(s2.interlocks, 5), 0u);
}

// Boards by serial and path, readable, on a host that tells no attachment.
std::vector<ListedBoard> Listing(std::initializer_list<std::pair<const char *, const char *>> boards) {
    std::vector<ListedBoard> listed;
    for (const auto &board : boards) {
        listed.push_back({board.first, board.second, "", true});
    }
    return listed;
}

TEST(BoardRegistry, PlugUnplugReplugAndBoardsThatAreNotBridged) {
    BoardRegistry registry;
    ScanChanges first = ApplyScan(&registry, Listing({{"A", "sim:1"}, {"B", "sim:2"}}));
    EXPECT_EQ(first.plugged, (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(first.bridgedChanged);
    FindBoard(&registry, "A")->stateKnown = true;

    ScanChanges same = ApplyScan(&registry, Listing({{"A", "sim:1"}, {"B", "sim:2"}}));
    EXPECT_TRUE(same.plugged.empty() && same.unplugged.empty() && !same.bridgedChanged);
    EXPECT_TRUE(FindBoard(&registry, "A")->stateKnown) << "a board that stays keeps its state";

    ScanChanges gone = ApplyScan(&registry, Listing({{"B", "sim:2"}}));
    EXPECT_EQ(gone.unplugged, (std::vector<std::string>{"A"}));
    EXPECT_TRUE(gone.bridgedChanged);
    ASSERT_NE(FindBoard(&registry, "A"), nullptr) << "an unplugged board stays known";
    EXPECT_FALSE(FindBoard(&registry, "A")->present);

    ScanChanges back = ApplyScan(&registry, Listing({{"B", "sim:2"}, {"A", "sim:3"}}));
    EXPECT_EQ(back.plugged, (std::vector<std::string>{"A"}));
    EXPECT_FALSE(FindBoard(&registry, "A")->stateKnown) << "a board back again is in an unknown state";
    EXPECT_EQ(registry.bridged, (std::vector<std::string>{"B", "A"})) << "enumeration order";

    FindBoard(&registry, "B")->stateKnown = true;
    ScanChanges moved = ApplyScan(&registry, Listing({{"B", "sim:7"}, {"A", "sim:3"}}));
    EXPECT_EQ(moved.plugged, (std::vector<std::string>{"B"})) << "a new path is a new attachment";
    EXPECT_FALSE(FindBoard(&registry, "B")->stateKnown);

    ScanChanges bad = ApplyScan(&registry, Listing({{"", "sim:0"},
                                                    {"A", "sim:3"},
                                                    {"x/y", "sim:4"},
                                                    {"D", "sim:5"},
                                                    {"D", "sim:6"},
                                                    {"B", "sim:7"}}));
    EXPECT_TRUE(bad.plugged.empty());
    EXPECT_TRUE(bad.unplugged.empty());
    EXPECT_EQ(registry.bridged, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(FindBoard(&registry, "D"), nullptr) << "boards that share a serial are not bridged";
    ASSERT_EQ(bad.newProblems.size(), 3u);
    EXPECT_NE(bad.newProblems[0].find("sim:0 has an empty serial number"), std::string::npos);
    EXPECT_NE(bad.newProblems[1].find("sim:4 has the serial number \"x/y\""), std::string::npos);
    EXPECT_NE(bad.newProblems[2].find("sim:5, sim:6 share the serial number \"D\""), std::string::npos);
    for (const std::string &problem : bad.newProblems) {
        EXPECT_NE(problem.find("write a new serial"), std::string::npos) << "names the cure: " << problem;
    }
    ScanChanges again = ApplyScan(&registry, Listing({{"", "sim:0"},
                                                      {"A", "sim:3"},
                                                      {"x/y", "sim:4"},
                                                      {"D", "sim:5"},
                                                      {"D", "sim:6"},
                                                      {"B", "sim:7"}}));
    EXPECT_TRUE(again.newProblems.empty()) << "a problem is reported once, not at every scan";

    ScanChanges duplicate = ApplyScan(&registry, Listing({{"A", "sim:3"}, {"B", "sim:7"}, {"A", "sim:8"}}));
    EXPECT_EQ(duplicate.unplugged, (std::vector<std::string>{"A"})) << "a bridged board that gains a twin";
    EXPECT_EQ(registry.bridged, (std::vector<std::string>{"B"}));
}

// Only a board that is gone or enumerated anew loses its state: one that
// cannot be read for a scan, but is still at its path with its attachment,
// stays bridged at its place.
TEST(BoardRegistry, UnreadableBoardsStayAndBoardsEnumeratedAnewArePlugged) {
    BoardRegistry registry;
    const ListedBoard a = {"A", "sim:1", "a1", true};
    const ListedBoard b = {"B", "sim:2", "b1", true};
    const ListedBoard c = {"C", "sim:3", "", true};
    const ListedBoard b2 = {"B", "sim:2", "b2", true};
    ApplyScan(&registry, {a, b, c});
    for (const char *serial : {"A", "B", "C"}) {
        FindBoard(&registry, serial)->stateKnown = true;
    }
    const struct Case {
        const char *what;
        std::vector<ListedBoard> listed;
        std::vector<std::string> plugged, unplugged, unreadable;
        bool bridgedChanged;
    } cases[] = {
        {"B and C cannot be read",
         {a, {"", "sim:2", "b1", false}, {"", "sim:3", "c9", false}},
         {},
         {},
         {"B", "C"},
         false},
        {"still not", {a, {"", "sim:2", "b1", false}, {"", "sim:3", "", false}}, {}, {}, {}, false},
        {"readable again", {a, b, c}, {}, {}, {}, false},
        {"B enumerated anew at its path", {a, b2, c}, {"B"}, {}, {}, false},
        {"A enumerated anew, unreadable", {{"", "sim:1", "a2", false}, b2, c}, {}, {"A"}, {}, true},
        {"B unreadable elsewhere", {{"", "sim:5", "b2", false}, c}, {}, {"B"}, {}, true},
    };
    for (const Case &step : cases) {
        const ScanChanges changes = ApplyScan(&registry, step.listed);
        EXPECT_EQ(changes.plugged, step.plugged) << step.what;
        EXPECT_EQ(changes.unplugged, step.unplugged) << step.what;
        EXPECT_EQ(changes.unreadable, step.unreadable) << step.what;
        EXPECT_EQ(changes.bridgedChanged, step.bridgedChanged) << step.what;
        EXPECT_TRUE(changes.newProblems.empty()) << step.what;
    }
    EXPECT_TRUE(FindBoard(&registry, "C")->stateKnown) << "C was never gone";
    EXPECT_FALSE(FindBoard(&registry, "B")->present);
    EXPECT_EQ(registry.bridged, (std::vector<std::string>{"C"}));
}

TEST(Backoff, DoublesFromOneToSixtySecondsWithJitterAndResets) {
    Backoff backoff;
    double previousHigh = 0;
    for (int attempt = 0; attempt < 12; ++attempt) {
        Backoff low = backoff;
        Backoff high = backoff;
        double lowest = NextBackoff(&low, 0.0);
        double highest = NextBackoff(&high, 0.999999);
        EXPECT_GE(lowest, 1.0);
        EXPECT_LE(highest, 60.0);
        EXPECT_LT(lowest, highest + 1e-9);
        EXPECT_GE(highest, previousHigh - 1e-9) << "never shrinks before a success";
        previousHigh = highest;
        NextBackoff(&backoff, 0.5);
    }
    EXPECT_EQ(NextBackoff(&backoff, 0.5), 60.0) << "the nominal pause stops at 60 s";
    ResetBackoff(&backoff);
    EXPECT_EQ(NextBackoff(&backoff, 0.0), 1.0);
    EXPECT_EQ(NextBackoff(&backoff, 0.5), 2.0);
    EXPECT_EQ(NextBackoff(&backoff, 0.0), 3.0) << "jitter: from three quarters of the nominal 4 s";
    EXPECT_NEAR(NextBackoff(&backoff, 0.999), 10.0, 0.01) << "to five quarters of the nominal 8 s";
}

}  // namespace
