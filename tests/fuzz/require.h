// The fuzz targets' check: a broken promise aborts, which libFuzzer records as
// a crash together with the input that caused it.
#ifndef RXB540_TESTS_FUZZ_REQUIRE_H
#define RXB540_TESTS_FUZZ_REQUIRE_H

#include <sanitizer/common_interface_defs.h>

#include <cstdlib>
#include <string>

// The message goes where the sanitizers report, which libFuzzer keeps open
// when it silences the target's own output (-close_fd_mask).
inline void Require(bool holds, const std::string &promise) {
    if (!holds) {
        __sanitizer_report_error_summary(("broken: " + promise).c_str());
        std::abort();
    }
}

#endif  // RXB540_TESTS_FUZZ_REQUIRE_H
