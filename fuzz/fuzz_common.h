#pragma once

// Helpers shared by the fuzz targets: reading bounded values from the fuzzer's bytes, and
// reporting a broken invariant.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace orvex::fuzz {

/// Aborts with `message` (libFuzzer then saves the input that led here).
[[noreturn]] inline void fail(const std::string& message) {
    std::fprintf(stderr, "Fuzz check failed: %s\n", message.c_str());
    std::abort();
}

inline void check(bool condition, const std::string& message) {
    if (!condition) {
        fail(message);
    }
}

/// A double drawn mostly from awkward values (NaN, infinities, -0.0, subnormals, the extremes,
/// small integers and near-duplicates), otherwise from the raw bytes.
inline double awkward_double(FuzzedDataProvider& data) {
    constexpr double special[] = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  0.5,
                                  1e-6,
                                  -1e-6,
                                  1e-7,
                                  1.0 + 1e-9,
                                  2.0,
                                  3.0,
                                  1e300,
                                  -1e300,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::lowest(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::denorm_min(),
                                  -std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    constexpr std::size_t nb_special = sizeof(special) / sizeof(special[0]);
    const auto choice = data.ConsumeIntegral<unsigned char>();
    if (choice < 2 * nb_special) {
        return special[choice % nb_special];
    }
    if (choice < 200) {
        // Small numbers on a coarse grid, so that coincidences and alignments are frequent.
        return static_cast<double>(data.ConsumeIntegralInRange<int>(-8, 8)) / 4.0;
    }
    double raw = 0;
    const auto bytes = data.ConsumeBytes<unsigned char>(sizeof(double));
    if (!bytes.empty()) {
        std::memcpy(&raw, bytes.data(), bytes.size());
    }
    return raw;
}

}  // namespace orvex::fuzz
