// Home Assistant MQTT discovery: one switch entity per relay, grouped into
// one device per board.
#ifndef RXB540_MQTT_HA_DISCOVERY_H
#define RXB540_MQTT_HA_DISCOVERY_H

#include <string>

#include "mqtt/topics.h"

// Home Assistant's birth and last-will topic: "online" there asks every
// integration to publish its discovery messages again.
std::string DiscoveryStatusTopic(const std::string &prefix);

// "<prefix>/switch/rxb540_<host-id>_<serial>/relay<n>/config". Home Assistant
// takes only A-Z a-z 0-9 _ - in the node id, so a '.' of the serial becomes
// '_' there (the ids inside the payload keep the serial as it is).
std::string DiscoveryTopic(const std::string &prefix, const std::string &hostId, const std::string &serial,
                           int relay);

// The retained config message of relay n of a board.
std::string DiscoveryPayload(const TopicNames &names, const std::string &hostId, const std::string &serial,
                             int relay);

#endif  // RXB540_MQTT_HA_DISCOVERY_H
