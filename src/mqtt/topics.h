// The bridge's topics. B is "<base-topic>/<host-id>"; every board's topics
// are below "B/<serial>".
#ifndef RXB540_MQTT_TOPICS_H
#define RXB540_MQTT_TOPICS_H

#include <string>

struct TopicNames {
    std::string base;  // B
};

TopicNames MakeTopicNames(const std::string &baseTopic, const std::string &hostId);

std::string StatusTopic(const TopicNames &names);
std::string BoardsTopic(const TopicNames &names);
std::string ErrorTopic(const TopicNames &names);
std::string HealthTopic(const TopicNames &names);
std::string AvailabilityTopic(const TopicNames &names, const std::string &serial);
std::string StateTopic(const TopicNames &names, const std::string &serial);
std::string RelayTopic(const TopicNames &names, const std::string &serial, int relay);
std::string StateCommandTopic(const TopicNames &names, const std::string &serial);
std::string RelayCommandTopic(const TopicNames &names, const std::string &serial, int relay);
std::string InfoTopic(const TopicNames &names, const std::string &serial);
// Where the bridge sends itself a marker after subscribing: its return ends
// the broker's retained snapshot.
std::string SyncTopic(const TopicNames &names);

// The subscriptions that bring the commands.
std::string StateCommandFilter(const TopicNames &names);
std::string RelayCommandFilter(const TopicNames &names);
std::string ForgetCommandFilter(const TopicNames &names);
// The retained snapshot read after each connection: states and infos.
std::string StateFilter(const TopicNames &names);
std::string InfoFilter(const TopicNames &names);

enum CommandKind { COMMAND_NONE, COMMAND_STATE, COMMAND_RELAY, COMMAND_FORGET };

struct CommandTopic {
    CommandKind kind = COMMAND_NONE;
    std::string serial;
    std::string relayText;  // the relay level as sent, for COMMAND_RELAY
};

// Which command a topic below B carries; COMMAND_NONE for any other topic.
CommandTopic ParseCommandTopic(const TopicNames &names, const std::string &topic);

// The serial of a topic "B/<serial>/<leaf>", or an empty text.
std::string BoardOfTopic(const TopicNames &names, const std::string &topic, const std::string &leaf);

// The relay number of a relay level: "1" to "<relays>", exactly; 0 otherwise.
int ParseRelayNumber(const std::string &text, int relays);

#endif  // RXB540_MQTT_TOPICS_H
