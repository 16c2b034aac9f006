// The bridge's log: one line per event on standard error (the journal when
// it runs as a service), every MQTT message as well with --verbose.
#ifndef RXB540_MQTT_LOG_H
#define RXB540_MQTT_LOG_H

// Log lines carry texts from the network and from devices: a line end or an
// escape sequence among them would forge log lines or drive the terminal
// that shows the log. Every control character becomes '?'.
void MakeLogLineSafe(char *line);

void SetVerboseLog(bool verbose);
bool VerboseLog();

// One line, prefixed with the program name; the line end is added.
void LogEvent(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Like LogEvent, but only with --verbose.
void LogDetail(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif  // RXB540_MQTT_LOG_H
