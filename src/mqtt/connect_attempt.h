// One attempt to reach the broker, made on a thread of its own: resolving
// the broker's name and the TCP connect can take seconds (a slow or
// unreachable name server), and the poll loop must keep serving the stop
// signals and the scans meanwhile. The attempt owns its libmosquitto client
// until the loop takes it back; nothing else touches that client meanwhile.
#ifndef RXB540_MQTT_CONNECT_ATTEMPT_H
#define RXB540_MQTT_CONNECT_ATTEMPT_H

#include <cstdint>
#include <string>

struct mosquitto;
struct ConnectAttempt;

// Starts connecting client to host:port with MQTT 5's CONNECT property
// Maximum Packet Size set to maxPacketSize. Null with the reason in error
// when no thread could be started (the client is then still the caller's).
ConnectAttempt *StartConnect(mosquitto *client, const std::string &host, int port, int keepalive,
                             std::uint32_t maxPacketSize, std::string *error);

// A descriptor that becomes readable when the attempt is over.
int ConnectAttemptFd(const ConnectAttempt *attempt);

// When the attempt is over: releases it, hands the client back and returns
// true with libmosquitto's result and, on failure, its reason. False while
// it is still under way.
bool FinishConnect(ConnectAttempt **attempt, mosquitto **client, int *result, std::string *error);

// The program ends: an attempt that is over is released with its client; one
// still under way is left to end on its own thread, which then releases it,
// and true is returned.
bool AbandonConnect(ConnectAttempt **attempt);

#endif  // RXB540_MQTT_CONNECT_ATTEMPT_H
