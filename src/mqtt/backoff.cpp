#include "mqtt/backoff.h"

#include <algorithm>

double NextBackoff(Backoff *backoff, double jitter) {
    double pause = backoff->nominal * (0.75 + 0.5 * jitter);
    backoff->nominal = std::min(backoff->nominal * 2, BACKOFF_LAST_SECONDS);
    return std::clamp(pause, BACKOFF_FIRST_SECONDS, BACKOFF_LAST_SECONDS);
}

void ResetBackoff(Backoff *backoff) {
    backoff->nominal = BACKOFF_FIRST_SECONDS;
}
