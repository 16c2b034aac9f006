#include "mqtt/ha_discovery.h"

#include "mqtt/payloads.h"

namespace {

std::string DeviceId(const std::string &hostId, const std::string &serial) {
    return "rxb540_" + hostId + "_" + serial;
}

}  // namespace

std::string DiscoveryStatusTopic(const std::string &prefix) {
    return prefix + "/status";
}

std::string DiscoveryTopic(const std::string &prefix, const std::string &hostId, const std::string &serial,
                           int relay) {
    std::string node = DeviceId(hostId, serial);
    for (char &c : node) {
        if (c == '.') {
            c = '_';
        }
    }
    return prefix + "/switch/" + node + "/relay" + std::to_string(relay) + "/config";
}

std::string DiscoveryPayload(const TopicNames &names, const std::string &hostId, const std::string &serial,
                             int relay) {
    std::string device = DeviceId(hostId, serial);
    std::string n = std::to_string(relay);
    return "{\"name\": " + JsonString("Relay " + n) +
           ", \"unique_id\": " + JsonString(device + "_relay" + n) +
           ", \"command_topic\": " + JsonString(RelayCommandTopic(names, serial, relay)) +
           ", \"state_topic\": " + JsonString(RelayTopic(names, serial, relay)) +
           ", \"payload_on\": \"ON\", \"payload_off\": \"OFF\", \"state_on\": \"ON\", \"state_off\": \"OFF\""
           ", \"availability\": [{\"topic\": " +
           JsonString(StatusTopic(names)) + "}, {\"topic\": " + JsonString(AvailabilityTopic(names, serial)) +
           "}], \"availability_mode\": \"all\", \"payload_available\": \"online\","
           " \"payload_not_available\": \"offline\", \"qos\": 1, \"retain\": false"
           ", \"device\": {\"identifiers\": [" +
           JsonString(device) + "], \"name\": " + JsonString("RXB540 " + serial + " on " + hostId) +
           ", \"model\": \"RXB540\", \"serial_number\": " + JsonString(serial) + "}}";
}
