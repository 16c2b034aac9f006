// Home Assistant MQTT discovery: per relay one switch entity and one button
// entity for a pulse, grouped into one device per board; and the board's
// retained description on B/<serial>/info.
#ifndef RXB540_MQTT_HA_DISCOVERY_H
#define RXB540_MQTT_HA_DISCOVERY_H

#include <string>

#include "mqtt/board_settings.h"
#include "mqtt/topics.h"

// Home Assistant's birth and last-will topic: "online" there asks every
// integration to publish its discovery messages again.
std::string DiscoveryStatusTopic(const std::string &prefix);

// "<prefix>/switch/rxb540_<host-id>_<serial>/relay<n>/config". Home Assistant
// takes only A-Z a-z 0-9 _ - in the node id, so a '.' of the serial becomes
// '_' there (the ids inside the payload keep the serial as it is).
std::string DiscoveryTopic(const std::string &prefix, const std::string &hostId, const std::string &serial,
                           int relay);
// "<prefix>/button/<the same node>/relay<n>_pulse/config".
std::string ButtonDiscoveryTopic(const std::string &prefix, const std::string &hostId,
                                 const std::string &serial, int relay);

// "rxb540_<host-id>_<serial>_relay<n>" in lower case, every character outside
// a-z 0-9 _ made '_': the object id, and after "switch." the entity id.
std::string RelayObjectId(const std::string &hostId, const std::string &serial, int relay);

// The retained config messages of relay n of a board: its switch, its button.
std::string DiscoveryPayload(const TopicNames &names, const std::string &hostId, const std::string &serial,
                             const BoardSettings &settings, int relay);
std::string ButtonDiscoveryPayload(const TopicNames &names, const std::string &hostId,
                                   const std::string &serial, const BoardSettings &settings, int relay);

// B/<serial>/info: {"name": ..., "relays": n, "relay_names": [...]}.
std::string InfoPayload(const BoardSettings &settings);

#endif  // RXB540_MQTT_HA_DISCOVERY_H
