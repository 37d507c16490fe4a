#include "orvex/background_common/internal_distance/internal_distance_cache.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>

#include "internal_distance/points_key.h"
#include "orvex/background_common/internal_distance/tetrahedron_internal_distance.h"
#include "orvex/background_common/internal_distance/triangle_internal_distance.h"

namespace orvex {
namespace internal {
namespace {

using detail::DistanceMemory;
using detail::PointsKeyHash;
using detail::PointsKeyView;

// Every key lands on the same hash: only the equality separates them.
struct CollidingHash {
    using is_transparent = void;

    template <typename Key>
    std::size_t operator()(const Key& /*key*/) const {
        return 42;
    }
};

// A memory of triangle distances that counts its computations.
template <typename Hash = PointsKeyHash<2, 3>>
struct CountingMemory {
    DistanceMemory<2, 3, Hash> memory;
    int computations = 0;

    double operator()(const Point<2>& a, const Point<2>& b, const Point<2>& c) {
        return memory.find_or_compute(PointsKeyView<2, 3>{{&a, &b, &c}}, [&] {
            ++computations;
            return minimal_triangle_internal_distance(Triangle<2>{a, b, c}).distance;
        });
    }
};

const Point<2> kA{{0, 0}};
const Point<2> kB{{1, 0}};
const Point<2> kC{{0, 1}};

TEST(InternalDistanceCache, ElementsFoundInAnyVertexOrderOnly) {
    ThreePointsInternalDistance triangles;
    EXPECT_NEAR(triangles.smallest_internal_distance(Triangle<2>{kA, kB, kC}), std::sqrt(0.5),
                1e-15);
    EXPECT_NEAR(triangles.smallest_internal_distance(Triangle<2>{kC, kA, kB}), std::sqrt(0.5),
                1e-15);
    CountingMemory<> counted;
    counted(kA, kB, kC);
    counted(kC, kA, kB);
    counted(kB, kA, kC);
    const Point<2> negative_zero{{-0.0, -0.0}};  // equals kA
    counted(kB, negative_zero, kC);
    EXPECT_EQ(counted.computations, 1);
    EXPECT_EQ(counted.memory.size(), 1U);

    // A tetrahedron with two vertices swapped is the same entry, its mirror image another.
    const Point<3> a{{0, 0, 0}};
    const Point<3> b{{1, 0, 0}};
    const Point<3> c{{0, 2, 0}};
    const Point<3> d{{0, 0, 3}};
    const Point<3> mirrored_b{{-1, 0, 0}};
    FourPointsInternalDistance tetrahedra;
    const double distance = tetrahedra.smallest_internal_distance(Tetrahedron{a, b, c, d});
    EXPECT_EQ(distance, minimal_tetrahedron_internal_distance(Tetrahedron{a, b, c, d}).distance);
    EXPECT_EQ(tetrahedra.smallest_internal_distance(Tetrahedron{a, c, b, d}), distance);
    DistanceMemory<3, 4> memory;
    for (const auto* second : {&b, &b, &mirrored_b}) {
        (void)memory.find_or_compute(PointsKeyView<3, 4>{{&a, second, &c, &d}}, [] { return 1.; });
    }
    EXPECT_EQ(memory.size(), 2U);
}

// A stored collapsed key must not answer for a valid element that meets it in a probe group,
// nor a key for another with the same points in other multiplicities.
TEST(InternalDistanceCache, KeysMatchOnlyAsMultisets) {
    CountingMemory<CollidingHash> colliding;
    EXPECT_EQ(colliding(kA, kA, kA), 0.);
    EXPECT_NEAR(colliding(kA, kB, kC), std::sqrt(0.5), 1e-15);
    EXPECT_EQ(colliding(kA, kA, kB), 0.);
    colliding(kA, kB, kB);
    EXPECT_EQ(colliding.computations, 4);
    EXPECT_EQ(colliding.memory.size(), 4U);
    EXPECT_NEAR(colliding(kC, kB, kA), std::sqrt(0.5), 1e-15);
    EXPECT_EQ(colliding(kB, kA, kA), 0.);
    EXPECT_EQ(colliding.computations, 4);
}

// Repeated points must not cancel out of the hash: keys (X, X, B) spread like any others.
TEST(InternalDistanceCache, HashKeepsRepeatedPoints) {
    const PointsKeyHash<2, 3> hash;
    std::set<std::size_t> collapsed;
    const Point<2> b{{-1, -1}};
    std::array<Point<2>, 100> x;
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = Point<2>{{static_cast<double>(i), 0.5}};
        collapsed.insert(hash(PointsKeyView<2, 3>{{&x[i], &x[i], &b}}));
    }
    EXPECT_EQ(collapsed.size(), x.size());
    EXPECT_NE(hash(PointsKeyView<2, 3>{{&kA, &kA, &kB}}),
              hash(PointsKeyView<2, 3>{{&kA, &kB, &kB}}));
    EXPECT_EQ(hash(PointsKeyView<2, 3>{{&kA, &kB, &kC}}),
              hash(PointsKeyView<2, 3>{{&kC, &kA, &kB}}));

    const PointsKeyHash<3, 4> hash3;
    const Point<3> p{{1, 2, 3}};
    const Point<3> q{{4, 5, 6}};
    const Point<3> r{{7, 8, 9}};
    EXPECT_NE(hash3(PointsKeyView<3, 4>{{&p, &p, &q, &q}}),
              hash3(PointsKeyView<3, 4>{{&r, &r, &q, &q}}));
}

// Grid keys share coordinates: the hash must tell apart keys that trade coordinates between
// their points.
TEST(InternalDistanceCache, HashSeparatesTradedCoordinates) {
    const PointsKeyHash<2, 3> hash;
    const Point<2> p00{{0, 0}};
    const Point<2> p11{{1, 1}};
    const Point<2> p01{{0, 1}};
    const Point<2> p10{{1, 0}};
    EXPECT_NE(hash(PointsKeyView<2, 3>{{&p00, &p11, &p11}}),
              hash(PointsKeyView<2, 3>{{&p01, &p10, &p11}}));
    EXPECT_NE(hash(PointsKeyView<2, 3>{{&p01, &p01, &p11}}),
              hash(PointsKeyView<2, 3>{{&p10, &p10, &p11}}));
}

// Tetrahedra whose points trade low bits between two coordinates (x raised by k * 2^21 ulps, y
// lowered by k ulps) once shared one key hash, so that a few thousand of them, all distinct, made
// every insertion walk all the others.
TEST(InternalDistanceCache, HashSeparatesPointsThatTradeLowBits) {
    const auto ulps_away = [](double value, std::int64_t ulps) {
        std::int64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        bits += ulps;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    };
    const std::array<Point<3>, 4> base{Point<3>{{0.3, 0.3, 0.3}}, Point<3>{{0.3 + 4e-6, 0.3, 0.3}},
                                       Point<3>{{0.3, 0.3 + 4e-6, 0.3}},
                                       Point<3>{{0.3, 0.3, 0.3 + 4e-6}}};
    const PointsKeyHash<3, 4> hash;
    std::set<std::size_t> hashes;
    constexpr std::int64_t kCount = 1000;
    for (std::int64_t k = 0; k < kCount; ++k) {
        std::array<Point<3>, 4> points = base;
        for (auto& point : points) {
            point.set_value(0, ulps_away(point.value(0), k << 21));
            point.set_value(1, ulps_away(point.value(1), -k));
        }
        hashes.insert(hash(PointsKeyView<3, 4>{{&points[0], &points[1], &points[2], &points[3]}}));
    }
    EXPECT_EQ(hashes.size(), kCount);
}

// A NaN key never equals itself: it is measured on every call and never stored.
TEST(InternalDistanceCache, NonFiniteElementsAreNotRemembered) {
    CountingMemory<> counted;
    const Point<2> invalid{{std::numeric_limits<double>::quiet_NaN(), 0}};
    const Point<2> infinite{{std::numeric_limits<double>::infinity(), 0}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(counted(kA, invalid, kC), std::numeric_limits<double>::max());
        counted(kA, infinite, kC);
    }
    EXPECT_EQ(counted.computations, 6);
    EXPECT_EQ(counted.memory.size(), 0U);

    ThreePointsInternalDistance cache;
    EXPECT_EQ(cache.smallest_internal_distance(Triangle<2>{kA, invalid, kC}),
              std::numeric_limits<double>::max());
}

}  // namespace
}  // namespace internal
}  // namespace orvex
