// The pause before the next connection attempt: doubles from 1 s to 60 s
// after every failed attempt, with jitter so that many bridges that lost the
// same broker do not all come back in the same second.
#ifndef RXB540_MQTT_BACKOFF_H
#define RXB540_MQTT_BACKOFF_H

constexpr double BACKOFF_FIRST_SECONDS = 1.0;
constexpr double BACKOFF_LAST_SECONDS = 60.0;

struct Backoff {
    double nominal = BACKOFF_FIRST_SECONDS;
};

// The pause to wait now, and the nominal pause grows for the next failure.
// jitter is a random number in [0, 1): the pause is the nominal one times
// 0.75 to 1.25, kept within 1 s and 60 s.
double NextBackoff(Backoff *backoff, double jitter);

// After a connection that the broker accepted.
void ResetBackoff(Backoff *backoff);

#endif  // RXB540_MQTT_BACKOFF_H
