// A first look at the library: initialise it and print a few internal distance records.

#include <cstdio>

#include "orvex/background_common/background_common_library.h"
#include "orvex/background_common/internal_distance/internal_distance.h"

int main() {
    orvex::BackgroundCommonLibrary::initialize();
    using orvex::internal::InternalDistance;
    const InternalDistance records[] = {
        InternalDistance{},
        InternalDistance{0.70710678118654752, 0, {{1, 2}}},
        InternalDistance{InternalDistance::CONFIGURATION_TYPE::point_point, 0, {{0, 2}}},
        InternalDistance{1e-7, 3},
        InternalDistance{{{0, 2}}},
        InternalDistance{static_cast<unsigned char>(1)},
    };
    std::printf("BackgroundCommon initialised. Some internal distance records:\n");
    for (const auto& record : records) {
        std::printf("  %s\n", record.string().c_str());
    }
    return 0;
}
