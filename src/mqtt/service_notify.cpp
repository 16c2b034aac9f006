#include "mqtt/service_notify.h"

#include <cstdint>
#include <limits>

#ifdef RXB540_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace {

void Send(const std::string &message) {
#ifdef RXB540_HAVE_SYSTEMD
    sd_notify(0, message.c_str());
#else
    (void)message;
#endif
}

}  // namespace

void ServiceNotifierStart(ServiceNotifier *notifier) {
#ifdef RXB540_HAVE_SYSTEMD
    std::uint64_t period = 0;
    if (sd_watchdog_enabled(0, &period) > 0 && period > 0) {
        // Twice per period, so that one late turn of the loop is no failure.
        notifier->watchdogInterval = static_cast<double>(period) / 2e6;
    }
#else
    (void)notifier;
#endif
}

void ServiceNotify(ServiceNotifier *notifier, const std::string &status, double now) {
    std::string message;
    if (!notifier->ready) {
        notifier->ready = true;
        message = "READY=1\n";
    }
    if (status != notifier->status) {
        notifier->status = status;
        message += "STATUS=" + status + "\n";
    }
    if (notifier->watchdogInterval > 0 && now >= notifier->nextWatchdog) {
        notifier->nextWatchdog = now + notifier->watchdogInterval;
        message += "WATCHDOG=1\n";
    }
    if (!message.empty()) {
        Send(message);
    }
}

double ServiceWakeTime(const ServiceNotifier *notifier) {
    if (notifier->watchdogInterval <= 0) {
        return std::numeric_limits<double>::infinity();
    }
    return notifier->nextWatchdog;
}

void ServiceNotifyStopping() {
    Send("STOPPING=1\n");
}
