#include "mqtt/topics.h"

TopicNames MakeTopicNames(const std::string &baseTopic, const std::string &hostId) {
    return TopicNames{baseTopic + "/" + hostId};
}

std::string StatusTopic(const TopicNames &names) {
    return names.base + "/status";
}

std::string BoardsTopic(const TopicNames &names) {
    return names.base + "/boards";
}

std::string ErrorTopic(const TopicNames &names) {
    return names.base + "/error";
}

std::string HealthTopic(const TopicNames &names) {
    return names.base + "/health";
}

std::string AvailabilityTopic(const TopicNames &names, const std::string &serial) {
    return names.base + "/" + serial + "/availability";
}

std::string StateTopic(const TopicNames &names, const std::string &serial) {
    return names.base + "/" + serial + "/state";
}

std::string RelayTopic(const TopicNames &names, const std::string &serial, int relay) {
    return names.base + "/" + serial + "/relay/" + std::to_string(relay);
}

std::string StateCommandTopic(const TopicNames &names, const std::string &serial) {
    return names.base + "/" + serial + "/set";
}

std::string RelayCommandTopic(const TopicNames &names, const std::string &serial, int relay) {
    return RelayTopic(names, serial, relay) + "/set";
}

std::string InfoTopic(const TopicNames &names, const std::string &serial) {
    return names.base + "/" + serial + "/info";
}

std::string SyncTopic(const TopicNames &names) {
    return names.base + "/sync";
}

std::string StateCommandFilter(const TopicNames &names) {
    return names.base + "/+/set";
}

std::string RelayCommandFilter(const TopicNames &names) {
    return names.base + "/+/relay/+/set";
}

std::string ForgetCommandFilter(const TopicNames &names) {
    return names.base + "/+/forget";
}

std::string StateFilter(const TopicNames &names) {
    return names.base + "/+/state";
}

std::string InfoFilter(const TopicNames &names) {
    return names.base + "/+/info";
}

std::string BoardOfTopic(const TopicNames &names, const std::string &topic, const std::string &leaf) {
    const std::string prefix = names.base + "/";
    const std::string suffix = "/" + leaf;
    if (topic.size() <= prefix.size() + suffix.size() || topic.compare(0, prefix.size(), prefix) != 0 ||
        topic.compare(topic.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return "";
    }
    std::string serial = topic.substr(prefix.size(), topic.size() - prefix.size() - suffix.size());
    return serial.find('/') == std::string::npos ? serial : "";
}

CommandTopic ParseCommandTopic(const TopicNames &names, const std::string &topic) {
    CommandTopic command;
    std::string prefix = names.base + "/";
    if (topic.compare(0, prefix.size(), prefix) != 0) {
        return command;
    }
    std::string rest = topic.substr(prefix.size());
    std::size_t slash = rest.find('/');
    if (slash == std::string::npos || slash == 0) {
        return command;
    }
    std::string serial = rest.substr(0, slash);
    std::string tail = rest.substr(slash);
    const std::string relayLevel = "/relay/";
    const std::string setLevel = "/set";
    if (tail == setLevel || tail == "/forget") {
        command.kind = tail == setLevel ? COMMAND_STATE : COMMAND_FORGET;
        command.serial = serial;
    } else if (tail.size() > relayLevel.size() + setLevel.size() &&
               tail.compare(0, relayLevel.size(), relayLevel) == 0 &&
               tail.compare(tail.size() - setLevel.size(), setLevel.size(), setLevel) == 0) {
        std::string relay = tail.substr(relayLevel.size(), tail.size() - relayLevel.size() - setLevel.size());
        if (relay.find('/') == std::string::npos) {
            command.kind = COMMAND_RELAY;
            command.serial = serial;
            command.relayText = relay;
        }
    }
    return command;
}

int ParseRelayNumber(const std::string &text, int relays) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '0' + relays) {
        return 0;
    }
    return text[0] - '0';
}
