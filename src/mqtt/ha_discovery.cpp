#include "mqtt/ha_discovery.h"

#include "mqtt/payloads.h"

namespace {

std::string DeviceId(const std::string &hostId, const std::string &serial) {
    return "rxb540_" + hostId + "_" + serial;
}

std::string NodeId(const std::string &hostId, const std::string &serial) {
    std::string node = DeviceId(hostId, serial);
    for (char &c : node) {
        if (c == '.') {
            c = '_';
        }
    }
    return node;
}

// What the switch and the button of a relay share: availability, QoS, the
// device and the origin.
std::string CommonFields(const TopicNames &names, const std::string &hostId, const std::string &serial,
                         const BoardSettings &settings) {
    return ", \"availability\": [{\"topic\": " + JsonString(StatusTopic(names)) +
           "}, {\"topic\": " + JsonString(AvailabilityTopic(names, serial)) +
           "}], \"availability_mode\": \"all\", \"payload_available\": \"online\","
           " \"payload_not_available\": \"offline\", \"qos\": 1, \"retain\": false"
           ", \"device\": {\"identifiers\": [" +
           JsonString(DeviceId(hostId, serial)) + "], \"name\": " + JsonText(settings.name) +
           ", \"manufacturer\": " + JsonString(RXB540_MANUFACTURER) +
           ", \"model\": \"RXB540\", \"serial_number\": " + JsonString(serial) +
           ", \"sw_version\": " + JsonString(RXB540_MQTT_VERSION) +
           "}, \"origin\": {\"name\": \"rxb540-mqtt\", \"sw\": " + JsonString(RXB540_MQTT_VERSION) + "}}";
}

}  // namespace

std::string DiscoveryStatusTopic(const std::string &prefix) {
    return prefix + "/status";
}

std::string DiscoveryTopic(const std::string &prefix, const std::string &hostId, const std::string &serial,
                           int relay) {
    return prefix + "/switch/" + NodeId(hostId, serial) + "/relay" + std::to_string(relay) + "/config";
}

std::string ButtonDiscoveryTopic(const std::string &prefix, const std::string &hostId,
                                 const std::string &serial, int relay) {
    return prefix + "/button/" + NodeId(hostId, serial) + "/relay" + std::to_string(relay) + "_pulse/config";
}

std::string RelayObjectId(const std::string &hostId, const std::string &serial, int relay) {
    std::string id = DeviceId(hostId, serial) + "_relay" + std::to_string(relay);
    for (char &c : id) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) {
            c = '_';
        }
    }
    return id;
}

std::string DiscoveryPayload(const TopicNames &names, const std::string &hostId, const std::string &serial,
                             const BoardSettings &settings, int relay) {
    std::string object = RelayObjectId(hostId, serial, relay);
    return "{\"name\": " + JsonText(settings.RelayName(relay)) +
           ", \"unique_id\": " + JsonString(DeviceId(hostId, serial) + "_relay" + std::to_string(relay)) +
           ", \"default_entity_id\": " + JsonString("switch." + object) +
           ", \"object_id\": " + JsonString(object) +
           ", \"command_topic\": " + JsonString(RelayCommandTopic(names, serial, relay)) +
           ", \"state_topic\": " + JsonString(RelayTopic(names, serial, relay)) +
           ", \"payload_on\": \"ON\", \"payload_off\": \"OFF\", \"state_on\": \"ON\", \"state_off\": "
           "\"OFF\"" +
           CommonFields(names, hostId, serial, settings);
}

std::string ButtonDiscoveryPayload(const TopicNames &names, const std::string &hostId,
                                   const std::string &serial, const BoardSettings &settings, int relay) {
    std::string object = RelayObjectId(hostId, serial, relay) + "_pulse";
    return "{\"name\": " + JsonText(settings.RelayName(relay) + " pulse") + ", \"unique_id\": " +
           JsonString(DeviceId(hostId, serial) + "_relay" + std::to_string(relay) + "_pulse") +
           ", \"default_entity_id\": " + JsonString("button." + object) +
           ", \"object_id\": " + JsonString(object) +
           ", \"command_topic\": " + JsonString(RelayCommandTopic(names, serial, relay)) +
           ", \"payload_press\": \"PULSE\"" + CommonFields(names, hostId, serial, settings);
}

std::string InfoPayload(const BoardSettings &settings) {
    std::string names;
    for (int relay = 1; relay <= settings.relays; ++relay) {
        names += (relay == 1 ? "" : ", ") + JsonText(settings.RelayName(relay));
    }
    return "{\"name\": " + JsonText(settings.name) + ", \"relays\": " + std::to_string(settings.relays) +
           ", \"relay_names\": [" + names + "]}";
}
