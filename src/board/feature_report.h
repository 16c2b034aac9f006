// The wire format of the board's commands: one 17-byte HID feature report.
#ifndef RXB540_BOARD_FEATURE_REPORT_H
#define RXB540_BOARD_FEATURE_REPORT_H

#include <cstddef>
#include <cstdint>

#include "board/device_result.h"
#include "board/discovery.h"

constexpr std::size_t FEATURE_REPORT_BYTES = 17;

// Offset 0: report ID (always 0); offset 1: command byte; from offset 2: the
// payload, every byte the command does not set being 0.
struct FeatureReport {
    std::uint8_t bytes[FEATURE_REPORT_BYTES];
};

constexpr std::uint8_t REPORT_SET_STATE = 0x31;
constexpr std::uint8_t REPORT_SET_SERIAL = 0x82;

// A serial-number text is a sign and at most ten digits, plus its zero.
constexpr std::size_t SERIAL_TEXT_BYTES = 12;

// Fills the report for REPORT_SET_STATE; the low 8 bits of state are sent.
void BuildSetStateReport(FeatureReport *report, int state);

// Writes the serial-number text for the given calendar time (seconds since
// 1970-01-01 UTC): its low 32 bits read as a signed integer, in decimal. From
// January 2038 on the text therefore begins with a minus sign.
void MakeSerialText(char (&text)[SERIAL_TEXT_BYTES], std::int64_t secondsSinceEpoch);

// The current calendar time in seconds since 1970-01-01 UTC.
std::int64_t CurrentCalendarTime();

// Fills the report for REPORT_SET_SERIAL: the text and its terminating zero
// from offset 2 (a longer text is cut to what the payload holds).
void BuildSetSerialReport(FeatureReport *report, const char *text);

// Sends the report in one call: DEVICE_OK when the board took it,
// DEVICE_COMM_ERROR otherwise. Never retried.
DeviceResult SendFeatureReport(HidHandle handle, const FeatureReport &report);

#endif  // RXB540_BOARD_FEATURE_REPORT_H
