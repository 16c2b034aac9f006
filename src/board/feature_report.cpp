#include "board/feature_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr std::size_t PAYLOAD_OFFSET = 2;

void StartReport(FeatureReport *report, std::uint8_t command) {
    std::memset(report->bytes, 0, sizeof report->bytes);
    report->bytes[1] = command;
}

}  // namespace

void BuildSetStateReport(FeatureReport *report, int state) {
    StartReport(report, REPORT_SET_STATE);
    // Conversion to unsigned is modular, so negative states keep their low bits.
    report->bytes[PAYLOAD_OFFSET] = static_cast<std::uint8_t>(static_cast<unsigned int>(state) & 0xFFu);
}

void MakeSerialText(char (&text)[SERIAL_TEXT_BYTES], std::int64_t secondsSinceEpoch) {
    std::int64_t low = secondsSinceEpoch & INT64_C(0xFFFFFFFF);
    if (low >= INT64_C(0x80000000)) {
        low -= INT64_C(0x100000000);
    }
    std::snprintf(text, sizeof text, "%" PRId64, low);
}

std::int64_t CurrentCalendarTime() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

void BuildSetSerialReport(FeatureReport *report, const char *text) {
    StartReport(report, REPORT_SET_SERIAL);
    const std::size_t room = FEATURE_REPORT_BYTES - PAYLOAD_OFFSET - 1;
    for (std::size_t i = 0; i < room && text[i] != '\0'; ++i) {
        report->bytes[PAYLOAD_OFFSET + i] = static_cast<std::uint8_t>(text[i]);
    }
}

DeviceResult SendFeatureReport(HidHandle handle, const FeatureReport &report) {
    FeatureReport sent = report;
    if (!HidD_SetFeature(handle, sent.bytes, static_cast<ULONG>(sizeof sent.bytes))) {
        return DEVICE_COMM_ERROR;
    }
    return DEVICE_OK;
}
