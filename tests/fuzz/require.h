// The fuzz targets' check: a broken promise aborts, which libFuzzer records as
// a crash together with the input that caused it.
#ifndef RXB540_TESTS_FUZZ_REQUIRE_H
#define RXB540_TESTS_FUZZ_REQUIRE_H

#include <cstdio>
#include <cstdlib>
#include <string>

inline void Require(bool holds, const std::string &promise) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", promise.c_str());
        std::abort();
    }
}

#endif  // RXB540_TESTS_FUZZ_REQUIRE_H
