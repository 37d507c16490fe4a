#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/hash/hash.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"

// A cache hit is little more than the hash of its key: the hash is compiled in one piece where
// the compiler allows.
#if defined(__GNUC__)
#define ORVEX_POINTS_KEY_FLATTEN __attribute__((flatten))
#else
#define ORVEX_POINTS_KEY_FLATTEN
#endif

/// The machinery behind `ThreePointsInternalDistance` and `FourPointsInternalDistance`: a hash
/// map from the points of an element, in any order, to its internal distance. Not part of the
/// library's interface; it is here so that tests can run it with a hash of their own.
namespace orvex::internal::detail {

/// The points of a remembered element, copied, in local vertex order.
template <index_t D, std::size_t N>
struct PointsKey {
    std::array<Point<D>, N> points;

    [[nodiscard]] const Point<D>& point(std::size_t index) const { return points[index]; }
};

/// The points of a looked-up element, read in place through pointers: a lookup copies no point.
template <index_t D, std::size_t N>
struct PointsKeyView {
    std::array<const Point<D>*, N> points;

    [[nodiscard]] const Point<D>& point(std::size_t index) const { return *points[index]; }
};

/// A hash of the points that ignores their order: the points' `std::hash` values are summed and
/// the sum is mixed once more by Abseil. `std::hash<Point<D>>` is itself Abseil's seeded mix of
/// every coordinate, so each term is already spread over all 64 bits and cannot be predicted
/// without the process's seed; mixing it a second time would only lengthen a cache hit. A sum,
/// unlike an exclusive or, keeps repeated points: (X, X, B) does not hash like B alone, nor
/// (A, A, B, B) like every other key of that shape, so collapsed elements spread over the table
/// like any others. Consistent with `PointsKeyEqual`, since `std::hash<Point<D>>` is consistent
/// with `==` (0.0 and -0.0 included). The points are hashed independently of each other, so the
/// processor works on all of them at once.
template <index_t D, std::size_t N>
struct PointsKeyHash {
    using is_transparent = void;

    template <typename Key>
    ORVEX_POINTS_KEY_FLATTEN std::size_t operator()(const Key& key) const {
        return absl::HashOf(sum_of_hashes(key, std::make_index_sequence<N>{}));
    }

private:
    // One term per point, spelled out.
    template <typename Key, std::size_t... Index>
    static std::uint64_t sum_of_hashes(const Key& key, std::index_sequence<Index...>) {
        return (std::uint64_t{0} + ... + std::uint64_t{std::hash<Point<D>>{}(key.point(Index))});
    }
};

/// Two keys match when they hold the same points with the same multiplicities, in any order:
/// each point of either key is matched by an equal point (`Point::operator==`) of the other,
/// one to one. (A, A, A) does not match (A, B, C), nor (A, A, B) match (A, B, B).
template <index_t D, std::size_t N>
struct PointsKeyEqual {
    using is_transparent = void;

    template <typename Left, typename Right>
    bool operator()(const Left& left, const Right& right) const {
        bool same_order = true;
        for (std::size_t index = 0; index < N && same_order; ++index) {
            same_order = left.point(index) == right.point(index);
        }
        if (same_order) {
            return true;
        }
        // Points that equal anything (all but those with a NaN coordinate) fall into classes of
        // equal points, so a greedy one-to-one matching finds a perfect matching whenever one
        // exists.
        std::array<bool, N> used{};
        for (std::size_t index = 0; index < N; ++index) {
            bool matched = false;
            for (std::size_t other = 0; other < N && !matched; ++other) {
                if (!used[other] && left.point(index) == right.point(other)) {
                    used[other] = true;
                    matched = true;
                }
            }
            if (!matched) {
                return false;
            }
        }
        return true;
    }
};

/// Remembers one distance per element, keyed on its points in any order.
///
/// Elements with a NaN or infinite coordinate are never remembered: a NaN key equals nothing,
/// itself included, so every lookup of it would add one more entry. Their distance is computed
/// afresh on each call. Entries are never updated or removed. Not thread-safe.
template <index_t D, std::size_t N, typename Hash = PointsKeyHash<D, N>>
class DistanceMemory {
public:
    /// The remembered distance of the element, or `compute()` remembered and returned when the
    /// element is new. `compute` runs before anything is inserted, so if it throws nothing is.
    template <typename Compute>
    double find_or_compute(const PointsKeyView<D, N>& element, Compute&& compute) {
        // No stored key is non-finite, and a NaN equals nothing: such an element always misses
        // and is only checked for then, off the path of a hit.
        const auto found = map_.find(element);
        if (found != map_.end()) {
            return found->second;
        }
        const double distance = std::forward<Compute>(compute)();
        if (!is_finite(element)) {
            return distance;
        }
        PointsKey<D, N> key;
        for (std::size_t index = 0; index < N; ++index) {
            key.points[index] = element.point(index);
        }
        map_.emplace(std::move(key), distance);
        return distance;
    }

    /// The number of remembered elements.
    [[nodiscard]] std::size_t size() const { return map_.size(); }

private:
    static bool is_finite(const PointsKeyView<D, N>& element) {
        for (std::size_t index = 0; index < N; ++index) {
            if (!orvex::is_finite(element.point(index))) {
                return false;
            }
        }
        return true;
    }

    absl::flat_hash_map<PointsKey<D, N>, double, Hash, PointsKeyEqual<D, N>> map_;
};

}  // namespace orvex::internal::detail
