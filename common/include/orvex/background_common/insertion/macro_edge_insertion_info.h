#pragma once

#include <optional>
#include <vector>

#include "orvex/background_common/export.h"
#include "orvex/background_common/insertion/element_insertion_info.h"
#include "orvex/background_common/insertion/insertion_location.h"
#include "polvane/basic/index.h"
#include "polvane/geometry/point.h"
#include "polvane/geometry/segment.h"

namespace orvex {

class VerticesModifier;

namespace internal {

/// The record of inserting one macro edge into a background mesh of dimension D (2 or 3): the
/// points met along the macro edge, each maybe tied to a background vertex, and the statuses
/// recorded while inserting. The inserting code fills both lists directly.
///
/// A plain value owning both lists; one record is used by one thread at a time.
template <index_t D>
struct ORVEX_BACKGROUND_COMMON_EXPORT MacroEdgeInsertionInfo {
    /// One point met along the macro edge.
    struct InsertionPoint {
        /// Where the point lies.
        Point<D> point;
        /// The background vertex at this point, if any.
        std::optional<index_t> vertex;
        /// Where the inserting code met the point; carried along, never read.
        InsertionLocation location;
    };

    /// An empty record: no point, no status.
    MacroEdgeInsertionInfo() = default;
    /// A copy of both lists.
    MacroEdgeInsertionInfo(const MacroEdgeInsertionInfo&) = default;
    /// Replaces both lists by copies of the other record's.
    MacroEdgeInsertionInfo& operator=(const MacroEdgeInsertionInfo&) = default;

    /// Takes over both lists; the source's lists are left empty.
    MacroEdgeInsertionInfo(MacroEdgeInsertionInfo&& other) noexcept;

    /// Takes over both lists, leaving the source's empty (nothing happens on self-assignment).
    MacroEdgeInsertionInfo& operator=(MacroEdgeInsertionInfo&& other) noexcept;

    ~MacroEdgeInsertionInfo() = default;

    /// Replaces every recorded background vertex by `modifier.updated_vertex(vertex).value()`,
    /// front to back; entries without a vertex are skipped.
    /// \throw std::bad_optional_access when the modifier reports a vertex as gone. Entries
    /// before it already hold their new vertices (no rollback); it and later ones keep theirs.
    void update_vertices(const VerticesModifier& modifier);

    /// Orders `points` along `segment` and drops coincident neighbours, in place:
    /// 1. sorts by the coordinate on the widest axis of the points' bounding box (NaN
    ///    coordinates after every number; entries with equal coordinates in no defined order);
    /// 2. in one pass, drops each entry whose point is `inexact_equal` to the last kept one
    ///    (the first of a run of coincident entries stays, with its vertex and location);
    /// 3. reverses the list when the direction from its first to its last point runs against
    ///    the segment's direction (strictly negative dot product of the two unit directions).
    /// Both directions and their lengths (as `Vector::length` measures them: infinite when a
    /// component is) are taken without overflow, also for points more than the largest double
    /// apart (x = -1e308 and 1e308).
    /// An empty list stays empty and nothing is raised: there is nothing to order.
    /// \throw PolvaneException "[Point::operator/] Cannot divide Point by something close to
    /// zero" when the first and the last point left are not more than 1e-30 apart, NaN
    /// included: one entry left, all coincident, a NaN coordinate, or two ends that coincide
    /// around a point that does not (neighbours only are compared); the list is then already
    /// sorted and shortened.
    /// \throw PolvaneException "[Vector::normalize] Cannot normalize a vector of length close to
    /// zero" otherwise, when the segment's length is not above 1e-30 (NaN included).
    void sort(const Segment<D>& segment);

    /// The summary of `statuses`: `degenerated` for a degenerated segment (lists not read);
    /// otherwise `fully_inserted` when every status is `inserted`, `partially_inserted` when
    /// some are and some are not, `not_inserted` when none is (an empty list included).
    [[nodiscard]] ElementInsertionInfo::INSERTION_STATUS insertion_status(
        const Segment<D>& segment) const;

    /// The points met along the macro edge, in the order the inserting code added them until
    /// `sort` orders them.
    std::vector<InsertionPoint> points;
    /// One status per background element met, in the order recorded.
    std::vector<ElementInsertionInfo::INSERTION_STATUS> statuses;
};

extern template struct MacroEdgeInsertionInfo<2>;
extern template struct MacroEdgeInsertionInfo<3>;

}  // namespace internal
}  // namespace orvex
