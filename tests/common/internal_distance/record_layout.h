#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "orvex/background_common/internal_distance/internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"

namespace orvex::test {

/// The records without their distances, for comparing lists at a glance: "segment v0 12,
/// segment v1 02" is two point_segment records (vertex 0 against edge (1, 2), then vertex 1
/// against edge (0, 2)). The other types print as "point 01", "triangle v3", "edges 02",
/// "folded edge 01", "folded v2" and "undefined".
inline std::string layout(const internal::InternalDistances& records) {
    using Type = internal::InternalDistance::CONFIGURATION_TYPE;
    std::string result;
    for (const internal::InternalDistance& record : records) {
        const std::string vertex = "v" + std::to_string(record.vertex);
        const std::string pair =
            std::to_string(record.vertices[0]) + std::to_string(record.vertices[1]);
        result += result.empty() ? "" : ", ";
        switch (record.type) {
            case Type::point_point:
                result += "point " + pair;
                break;
            case Type::point_segment:
                result += "segment " + vertex + " " + pair;
                break;
            case Type::point_triangle:
                result += "triangle " + vertex;
                break;
            case Type::segment_segment:
                result += "edges " + pair;
                break;
            case Type::edge_same_adjacent:
                result += "folded edge " + pair;
                break;
            case Type::vertex_same_adjacent:
                result += "folded " + vertex;
                break;
            case Type::undefined:
                result += "undefined";
                break;
        }
    }
    return result;
}

/// Expects the same records in the same order, with distances equal to the last bit. Wrap the
/// call in ASSERT_NO_FATAL_FAILURE to stop at different layouts.
inline void expect_same_records(const internal::InternalDistances& actual,
                                const internal::InternalDistances& expected) {
    ASSERT_EQ(layout(actual), layout(expected));
    for (std::size_t k = 0; k < actual.size(); ++k) {
        EXPECT_EQ(actual[k].distance, expected[k].distance) << "record " << k;
    }
}

}  // namespace orvex::test
