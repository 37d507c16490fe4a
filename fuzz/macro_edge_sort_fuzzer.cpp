// Fills a `MacroEdgeInsertionInfo<2>` or `<3>` with 0 to 12 points (coincident, aligned,
// NaN, infinite...) and checks `sort` against its contract (the header's), with an oracle of
// its own:
// - every entry left is one of the input entries, once, and every dropped entry coincides
//   (`inexact_equal`) with one that is left;
// - no two neighbours coincide, and the entries are monotone along the widest axis of the
//   points' box, NaN keys after every number (before them when the list was reversed);
// - after a success, the direction from the first entry to the last does not run against the
//   segment (cosine >= 0, or NaN), also where the points or the segment span more than the
//   largest double;
// - it throws exactly when it must, with the exact message: the division message when the
//   first and last entries left are not more than 1e-30 apart (the list is then sorted and
//   shortened, not reversed), otherwise the normalisation message when the segment is not
//   longer than 1e-30.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_common.h"
#include "orvex/background_common/insertion/macro_edge_insertion_info.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/geometry/bounding_box.h"
#include "polvane/geometry/vector.h"

namespace {

using orvex::BoundingBox;
using orvex::index_t;
using orvex::Point;
using orvex::PolvaneException;
using orvex::Segment;
using orvex::Vector;
using orvex::fuzz::check;
using orvex::internal::MacroEdgeInsertionInfo;

constexpr const char* DIVISION_MESSAGE =
    "[Point::operator/] Cannot divide Point by something close to zero";
constexpr const char* NORMALIZE_MESSAGE =
    "[Vector::normalize] Cannot normalize a vector of length close to zero";

double coordinate(FuzzedDataProvider& data) {
    if (data.ConsumeIntegralInRange<int>(0, 3) == 0) {
        return orvex::fuzz::awkward_double(data);
    }
    // A coarse grid with offsets around the coincidence tolerance.
    const double grid = static_cast<double>(data.ConsumeIntegralInRange<int>(-3, 3));
    return grid + 4e-7 * data.ConsumeIntegralInRange<int>(-3, 3);
}

// The oracle's geometry works in long double, whose exponent range holds the difference of any
// two doubles and the squares of such differences: directions and lengths come out finite and
// accurate without the scaling or halving the code under test needs for points more than the
// largest double apart, so this oracle shares none of that code.
// (A square needs twice a double's exponent range, subnormals included: four times leaves room.)
static_assert(std::numeric_limits<long double>::max_exponent
                      >= 4 * std::numeric_limits<double>::max_exponent
                  && std::numeric_limits<long double>::min_exponent
                         <= 4 * std::numeric_limits<double>::min_exponent,
              "the oracle needs a long double of wider range than a double (x86-64's)");

// to - from and its length. For finite points, both rounded far below the precision of a
// double. Otherwise the differences are exact anyway (infinities and NaNs), and the length is
// the one `Vector::length` gives them, which is what the sort promises to use.
template <index_t D>
struct Direction {
    std::array<long double, D> vector{};
    long double length = 0;
};

template <index_t D>
Direction<D> direction(const Point<D>& from, const Point<D>& to) {
    Direction<D> result;
    long double squared = 0;
    for (index_t axis = 0; axis < D; ++axis) {
        result.vector[axis] = static_cast<long double>(to.value(axis)) - from.value(axis);
        squared += result.vector[axis] * result.vector[axis];
    }
    result.length = orvex::is_finite(from) && orvex::is_finite(to) ? std::sqrt(squared)
                                                                   : Vector<D>{from, to}.length();
    return result;
}

// Whether a direction of this length is refused as too short: not above 1e-30, NaN included.
// The code measures lengths in double, a few ulps from the exact one; within a relative 1e-12
// of the bound both answers are right, and the result is empty.
std::optional<bool> too_short(long double length) {
    constexpr long double bound = 1e-30;
    if (std::isnan(length) || length <= bound * (1 - 1e-12L)) {
        return true;
    }
    if (length > bound * (1 + 1e-12L)) {
        return false;
    }
    return std::nullopt;
}

// The cosine of the angle between two directions (NaN when a length is infinite or NaN).
template <index_t D>
long double cosine(const Direction<D>& a, const Direction<D>& b) {
    long double result = 0;
    for (index_t axis = 0; axis < D; ++axis) {
        result += a.vector[axis] / a.length * (b.vector[axis] / b.length);
    }
    return result;
}

template <index_t D>
Point<D> make_point(FuzzedDataProvider& data) {
    Point<D> point;
    for (index_t axis = 0; axis < D; ++axis) {
        point.set_value(axis, coordinate(data));
    }
    return point;
}

template <index_t D>
void run(FuzzedDataProvider& data) {
    using Info = MacroEdgeInsertionInfo<D>;
    Info info;
    const int nb_points = data.ConsumeIntegralInRange<int>(0, 12);
    for (int i = 0; i < nb_points; ++i) {
        typename Info::InsertionPoint entry;
        if (i > 0 && data.ConsumeIntegralInRange<int>(0, 3) == 0) {
            entry.point = info.points[data.ConsumeIntegralInRange<int>(0, i - 1)].point;
        } else {
            entry.point = make_point<D>(data);
        }
        if (data.ConsumeBool()) {
            entry.vertex = data.ConsumeIntegral<index_t>();
        }
        // The caller field names the entry, so that survivors can be traced back.
        entry.location.feature_index = static_cast<index_t>(i);
        info.points.push_back(entry);
    }
    const Point<D> start = make_point<D>(data);
    const Point<D> end = data.ConsumeBool() ? start : make_point<D>(data);
    const Segment<D> segment{start, end};
    const std::vector<typename Info::InsertionPoint> input = info.points;

    std::string message;
    try {
        info.sort(segment);
    } catch (const PolvaneException& error) {
        message = error.what();
    }
    const auto& points = info.points;

    if (input.empty()) {
        check(points.empty() && message.empty(), "an empty list must stay empty, silently");
        return;
    }

    // Survivors are input entries, each once, with their fields intact.
    std::vector<bool> kept(input.size(), false);
    for (const auto& entry : points) {
        const index_t id = entry.location.feature_index;
        check(id < input.size() && !kept[id], "a survivor is not an input entry");
        kept[id] = true;
        const auto& original = input[id];
        check(entry.vertex == original.vertex, "a survivor's vertex changed");
        check(std::memcmp(&entry.point, &original.point, sizeof(entry.point)) == 0,
              "a survivor's point changed");
    }
    check(!points.empty(), "every entry was dropped");
    for (std::size_t id = 0; id < input.size(); ++id) {
        if (kept[id]) {
            continue;
        }
        bool covered = false;
        for (const auto& entry : points) {
            covered = covered || entry.point.inexact_equal(input[id].point);
        }
        check(covered, "a dropped entry coincides with no survivor");
    }
    for (std::size_t i = 1; i < points.size(); ++i) {
        check(!points[i - 1].point.inexact_equal(points[i].point), "coincident neighbours");
    }

    // Monotone along the widest axis of the box of every input point.
    BoundingBox<D> box;
    for (const auto& entry : input) {
        box.add_point(entry.point);
    }
    const auto axis = std::get<0>(box.largest_length());
    const auto key = [axis](const auto& entry) { return entry.point.value(axis); };
    bool ascending = true;
    bool descending = true;
    for (std::size_t i = 1; i < points.size(); ++i) {
        const double a = key(points[i - 1]);
        const double b = key(points[i]);
        // NaN keys after every number when ascending, before them when descending.
        ascending = ascending && (std::isnan(b) || (!std::isnan(a) && a <= b));
        descending = descending && (std::isnan(a) || (!std::isnan(b) && a >= b));
    }

    // Where the length sits on the bound, whichever message came is taken as the answer.
    const Direction<D> extent = direction(points.front().point, points.back().point);
    if (too_short(extent.length).value_or(message == DIVISION_MESSAGE)) {
        check(message == DIVISION_MESSAGE, "expected the division message, got: " + message);
        check(ascending, "not sorted ascending after the division exception");
        return;
    }
    const Direction<D> along = direction(segment.vertices()[0].get(), segment.vertices()[1].get());
    if (too_short(along.length).value_or(message == NORMALIZE_MESSAGE)) {
        check(message == NORMALIZE_MESSAGE, "expected the normalisation message, got: " + message);
        check(ascending, "not sorted ascending after the normalisation exception");
        return;
    }
    check(message.empty(), "unexpected exception: " + message);
    check(ascending || descending, "entries are not monotone along the widest axis");
    // The code's cosine is a few ulps off the exact one: only a clearly negative one is wrong.
    check(!(cosine<D>(extent, along) < -1e-12L), "the order runs against the segment");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    if (data.ConsumeBool()) {
        run<2>(data);
    } else {
        run<3>(data);
    }
    return 0;
}
