// What the service manager is told, over the notification socket that
// systemd names in NOTIFY_SOCKET: ready once the configuration is read and
// the first scan is done, a one-line status, and the watchdog's keep-alive
// when the unit sets WatchdogSec=. Built on libsystemd where it was found;
// elsewhere, and when the program runs outside systemd, nothing is sent.
#ifndef RXB540_MQTT_SERVICE_NOTIFY_H
#define RXB540_MQTT_SERVICE_NOTIFY_H

#include <string>

struct ServiceNotifier {
    bool ready = false;
    std::string status;           // the status last sent
    double watchdogInterval = 0;  // seconds between keep-alives; 0: no watchdog
    double nextWatchdog = 0;      // monotonic seconds
};

// Reads the watchdog's period from the environment (WATCHDOG_USEC).
void ServiceNotifierStart(ServiceNotifier *notifier);

// Called from every turn of the poll loop: READY=1 with the first status,
// STATUS= whenever status changed, WATCHDOG=1 when one is due.
void ServiceNotify(ServiceNotifier *notifier, const std::string &status, double now);

// The latest time at which ServiceNotify must run again for the watchdog.
double ServiceWakeTime(const ServiceNotifier *notifier);

// The clean stop has begun.
void ServiceNotifyStopping();

#endif  // RXB540_MQTT_SERVICE_NOTIFY_H
