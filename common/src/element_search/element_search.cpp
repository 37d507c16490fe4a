#include "orvex/background_common/element_search/element_search.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <tuple>
#include <utility>
#include <vector>

#include "polvane/geometry/aabb_tree.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/geometry/point.h"
#include "polvane/mesh/leaf_ordered_copy.h"
#include "polvane/mesh/mesh_traits.h"

namespace orvex {
namespace internal {
namespace detail {

// What the facet lines or planes of the simplex `vertices` (a triangle in the plane, a
// tetrahedron in space) prove about `point`: a lower bound of its distance not below `limit`
// when one facet separates them by that much (the first such facet's bound); -1 (`inside`) when
// every facet certainly has the point strictly on the simplex's side, so that the point lies in the
// simplex's interior, where its distance is 0; else 0, proving nothing. Rounding errors are bounded
// generously: every error term is taken 1e-12 times the sum of the magnitudes it comes from, about
// ten thousand times the worst case of a few units in the last place, and any facet whose side is
// not certain, or any overflow or NaN, proves nothing.
constexpr double inside = -1;

namespace {

// The length of `vector` from its computed squared length `length2`, never below the true
// length (before the relative slack): squares below the normal range may have lost all their
// digits (a normal of components 1e-255 has a squared length of 0 in doubles), so there the
// sum of the magnitudes, which bounds the length from above, is taken instead.
template <std::size_t N>
double upper_length(double length2, const std::array<double, N>& vector) {
    if (length2 > 1e-280) {
        return std::sqrt(length2);
    }
    double sum = 0;
    for (const double component : vector) {
        sum += std::fabs(component);
    }
    return sum;
}

// The tetrahedron's case: each facet's plane, its normal from a cross product of two of its
// edges, and the sides of the opposite vertex and of the point, each with its error bound.
double separation_bound(const std::array<const Point<3>*, 4>& vertices, const Point<3>& point,
                        double limit) {
    constexpr index_t D = 3;
    constexpr double slack = 1e-12;
    constexpr double tiny = 1e-290;
    bool interior = true;
    for (index_t facet = 0; facet <= D; ++facet) {
        const Point<D>& a = *vertices[(facet + 1) % (D + 1)];
        const Point<D>& opposite = *vertices[facet];
        // The facet's normal, unnormalised, and for each component the sum of the magnitudes
        // of the products it is made of.
        std::array<double, D> normal{};
        std::array<double, D> magnitude{};
        const Point<3>& b = *vertices[(facet + 2) % 4];
        const Point<3>& c = *vertices[(facet + 3) % 4];
        const Point<3> u = b - a;
        const Point<3> v = c - a;
        for (index_t i = 0; i < 3; ++i) {
            const index_t j = (i + 1) % 3;
            const index_t k = (i + 2) % 3;
            normal[i] = u.value(j) * v.value(k) - u.value(k) * v.value(j);
            magnitude[i] = std::fabs(u.value(j) * v.value(k)) + std::fabs(u.value(k) * v.value(j))
                           + (std::fabs(u.value(j)) + std::fabs(u.value(k)))
                                 * (std::fabs(v.value(j)) + std::fabs(v.value(k)));
        }
        // n . (x - a) and a bound of its error, for the opposite vertex and for the point.
        const auto side = [&](const Point<D>& x, double& error) {
            double dot = 0;
            error = tiny;
            for (index_t i = 0; i < D; ++i) {
                const double delta = x.value(i) - a.value(i);
                dot += normal[i] * delta;
                error += (std::fabs(normal[i]) + magnitude[i])
                         * (std::fabs(delta) + std::fabs(x.value(i)) + std::fabs(a.value(i)));
            }
            error *= slack;
            return dot;
        };
        double inner_error = 0;
        double outer_error = 0;
        const double inner = side(opposite, inner_error);
        const double outer = side(point, outer_error);
        double length2 = 0;
        double normal_error = tiny;
        for (index_t i = 0; i < D; ++i) {
            length2 += normal[i] * normal[i];
            normal_error += magnitude[i];
        }
        normal_error *= slack;
        if (!(std::fabs(inner) > inner_error) || !std::isfinite(outer) || !std::isfinite(length2)
            || !std::isfinite(outer_error) || !std::isfinite(normal_error)) {
            interior = false;
            continue;
        }
        // The point's gap beyond the facet, on the side away from the opposite vertex.
        const double toward = inner > 0 ? outer : -outer;
        const double beyond = -toward - outer_error;
        if (beyond > 0) {
            const double length = upper_length(length2, normal) * (1 + slack) + normal_error;
            const double bound = beyond / length * (1 - slack);
            if (bound >= limit) {
                return bound;
            }
        }
        interior = interior && toward > outer_error;
    }
    return interior ? inside : 0;
}

// The triangle's case, with the three edges' sides of the point read off the three signed
// areas with the point in place of a vertex: with u_i = vertex i - point, W0 = u1 x u2,
// W1 = u2 x u0, W2 = u0 x u1 (x the plane's cross product), which add up to the triangle's own
// signed area A. The point is strictly inside when every W_f has the sign of A; beyond edge f
// (opposite vertex f) when W_f has the other sign, at |W_f| / |edge f| from the edge's line.
// Each area's error is bounded by the slack times the magnitudes of its two products (which
// covers the rounding of the differences u_i, relative to themselves).
double separation_bound(const std::array<const Point<2>*, 3>& vertices, const Point<2>& point,
                        double limit) {
    constexpr double slack = 1e-12;
    constexpr double tiny = 1e-290;
    const auto cross2 = [](double ux, double uy, double vx, double vy) {
        return ux * vy - uy * vx;
    };
    const auto magnitude2 = [](double ux, double uy, double vx, double vy) {
        return std::fabs(ux * vy) + std::fabs(uy * vx);
    };
    std::array<std::array<double, 2>, 3> u{};
    for (index_t i = 0; i < 3; ++i) {
        u[i] = {vertices[i]->value(0) - point.value(0), vertices[i]->value(1) - point.value(1)};
    }
    const double ex1 = vertices[1]->value(0) - vertices[0]->value(0);
    const double ey1 = vertices[1]->value(1) - vertices[0]->value(1);
    const double ex2 = vertices[2]->value(0) - vertices[0]->value(0);
    const double ey2 = vertices[2]->value(1) - vertices[0]->value(1);
    const double area = cross2(ex1, ey1, ex2, ey2);
    const double area_error = magnitude2(ex1, ey1, ex2, ey2) * slack + tiny;
    if (!(std::fabs(area) > area_error) || !std::isfinite(area) || !std::isfinite(area_error)) {
        return 0;
    }
    const double orientation = area > 0 ? 1.0 : -1.0;
    bool interior = true;
    for (index_t edge = 0; edge < 3; ++edge) {
        const auto& a = u[(edge + 1) % 3];
        const auto& b = u[(edge + 2) % 3];
        const double toward = cross2(a[0], a[1], b[0], b[1]) * orientation;
        const double error = magnitude2(a[0], a[1], b[0], b[1]) * slack + tiny;
        if (!std::isfinite(toward) || !std::isfinite(error)) {
            interior = false;
            continue;
        }
        if (toward > error) {
            continue;
        }
        interior = false;
        const double beyond = -toward - error;
        if (beyond > 0) {
            const Point<2>& p = *vertices[(edge + 1) % 3];
            const Point<2>& q = *vertices[(edge + 2) % 3];
            const double dx = q.value(0) - p.value(0);
            const double dy = q.value(1) - p.value(1);
            const double length_error = (std::fabs(dx) + std::fabs(dy)) * slack + tiny;
            const double length =
                upper_length(dx * dx + dy * dy, std::array<double, 2>{dx, dy}) * (1 + slack)
                + length_error;
            const double bound = beyond / length * (1 - slack);
            if (std::isfinite(length) && bound >= limit) {
                return bound;
            }
        }
    }
    return interior ? inside : 0;
}

}  // namespace

// The element distance as the search uses it: the mesh's own distance, except that an element
// which a facet proves at least as far as the search's limit of the moment (the tolerance, or
// the nearest distance found so far) gets that proven bound instead, so it never replaces a
// nearer element and is never accepted: the answers are those of the exact distances, without
// measuring elements that cannot matter. On a mesh far smaller than the tolerance, where every
// element is within it, the bound by the nearest distance spares most exact measures.
template <typename Mesh>
class SearchDistance {
public:
    using Traits = MeshTraits<Mesh>;
    static constexpr index_t D = Traits::dimension;

    explicit SearchDistance(const Mesh& mesh) : mesh_(&mesh), exact_(mesh) {}

    // The distance, or a proven bound not below `limit` (see `AABBTree::closest_position_within`).
    [[nodiscard]] double bounded(const Point<D>& point, index_t element, double limit) const {
        if constexpr (D > 1) {
            const auto& vertices = Traits::element_vertices(*mesh_, element);
            std::array<const Point<D>*, D + 1> points{};
            for (index_t i = 0; i <= D; ++i) {
                points[i] = &mesh_->point(vertices[i]);
            }
            const double bound = separation_bound(points, point, limit);
            if (bound >= limit) {
                return bound;
            }
            // In the interior by certain signs of every facet: the mesh's distance, which
            // decides "inside" on the exact signs of the same facets, is 0 too.
            if (bound < 0) {
                return 0;
            }
        }
        return exact_(point, element);
    }

    // The distance, or a proven bound above the tolerance.
    [[nodiscard]] double operator()(const Point<D>& point, index_t element) const {
        return bounded(point, element, std::nextafter(GLOBAL_EPSILON, 1.));
    }

    // The tree's hint before `operator()` on this element (see
    // `AABBTree::closest_positions_within`): first its vertex indices are asked for,
    // then (`late`), once they have had time to arrive, its vertices' coordinates.
    void prefetch(index_t element, bool late) const {
        const auto& indices = Traits::element_vertices(*mesh_, element);
        if (!late) {
            __builtin_prefetch(indices.data());
            return;
        }
        for (index_t i = 0; i <= D; ++i) {
            __builtin_prefetch(&mesh_->point(indices[i]));
        }
    }

private:
    const Mesh* mesh_;
    typename Traits::ElementDistance exact_;
};

}  // namespace detail

template <typename Mesh>
class ElementSearch<Mesh>::Impl {
public:
    using Traits = MeshTraits<Mesh>;
    using Tree = AABBTree<dimension>;
    using Distance = detail::SearchDistance<Mesh>;

    // The snapshot: the caller's points and elements with the elements in the tree's leaf order
    // ("polvane/mesh/leaf_ordered_copy.h"), so that the elements met by one query lie side by
    // side in memory, and the tree over it. The distance functor refers to the snapshot's mesh
    // (which stays the same object through updates) and takes leaf positions;
    // `Tree::leaf_element` turns the answer's position back into the caller's element index.
    // Declared in this order so that the functor dies before the mesh it refers to.
    std::unique_ptr<LeafOrderedCopy<Mesh>> snapshot;
    std::unique_ptr<Distance> distance;

    [[nodiscard]] const Tree& tree() const { return snapshot->tree(); }

    // The query on a built snapshot.
    [[nodiscard]] std::optional<index_t> containing_element(const Point<dimension>& point) const {
        if (tree().nb_bboxes() == 0) {
            return NO_ID;
        }
        // The nearest element, found by the greedy seed and the pruned depth-first search; the
        // search is cut short wherever that cannot change an answer within the tolerance (see
        // `closest_element_within`), which makes queries several times faster.
        const auto [nearest, best] = tree().closest_position_within(point, *distance, search_bound);
        return accepted(nearest, best);
    }

    // The search bound: the next double above the tolerance, so that a distance of exactly
    // the tolerance is still found.
    static inline const double search_bound = std::nextafter(GLOBAL_EPSILON, 1.);

    // The answer for the nearest leaf position and its distance: only a distance known to be
    // within the tolerance is accepted, and a NaN distance never is.
    [[nodiscard]] std::optional<index_t> accepted(index_t nearest, double best) const {
        if (best <= GLOBAL_EPSILON) {
            return tree().leaf_element(nearest);
        }
        return std::nullopt;
    }
};

namespace detail {

constexpr const char* update_operation = "[ElementSearch::update_elements_tree] ";

// Checks that `renumbering` (empty, or one entry per old index) maps the old indices it keeps
// onto exactly the first new indices, none past `limit`; returns how many it keeps.
index_t kept_by(const std::vector<index_t>& renumbering, index_t old_count, index_t limit,
                const char* what) {
    if (renumbering.empty()) {
        return old_count;
    }
    if (renumbering.size() != old_count) {
        throw PolvaneException{update_operation, "The ", what, " renumbering has ",
                               renumbering.size(), " entries for a snapshot of ", old_count, " ",
                               what, "s."};
    }
    // A builder's deletion keeps the order of what it keeps: each kept entry is then the
    // number of kept entries before it, which one branch-free pass proves (about 1 ns per
    // entry). Any other renumbering is checked index by index.
    index_t kept = 0;
    bool in_order = true;
    for (const index_t renumbered : renumbering) {
        const bool keeps = renumbered != NO_ID;
        in_order &= !keeps || renumbered == kept;
        kept += keeps ? 1 : 0;
    }
    if (in_order && kept <= limit) {
        return kept;
    }
    std::vector<bool> seen(kept, false);
    for (index_t old_index = 0; old_index < old_count; ++old_index) {
        const index_t renumbered = renumbering[old_index];
        if (renumbered == NO_ID) {
            continue;
        }
        if (renumbered >= kept || renumbered >= limit || seen[renumbered]) {
            throw PolvaneException{update_operation, "The ", what, " renumbering maps ", what, " ",
                                   old_index, " to ", renumbered, ", which is not one of the ",
                                   kept, " first ", what, "s of the mesh or is given twice."};
        }
        seen[renumbered] = true;
    }
    return kept;
}

// Checks that every index of `indices` is below `count`.
void check_below(const std::vector<index_t>& indices, index_t count, const char* what) {
    for (const index_t index : indices) {
        if (index >= count) {
            throw PolvaneException{update_operation, "The ", what, " ", index,
                                   " is not below the mesh's count (", count, ")."};
        }
    }
}

// Refuses changes that do not describe `mesh`'s state from the snapshot's, as far as counts
// and ranges tell.
template <typename Mesh>
void check_changes(const MeshChanges& changes, const Mesh& mesh, index_t snapshot_elements,
                   index_t snapshot_vertices) {
    using Traits = MeshTraits<Mesh>;
    const index_t nb_elements = Traits::nb_elements(mesh);
    const index_t nb_vertices = mesh.nb_vertices();
    const index_t kept =
        kept_by(changes.element_renumbering, snapshot_elements, nb_elements, "element");
    const index_t kept_vertices =
        kept_by(changes.vertex_renumbering, snapshot_vertices, nb_vertices, "vertex");
    if (kept_vertices > nb_vertices) {
        throw PolvaneException{update_operation, "The snapshot keeps ", kept_vertices,
                               " vertices, but the mesh has ", nb_vertices, "."};
    }
    if (kept + changes.created_elements.size() != nb_elements) {
        throw PolvaneException{update_operation, "The snapshot keeps ", kept,
                               " elements and the changes create ",
                               changes.created_elements.size(), ", but the mesh has ",
                               nb_elements, "."};
    }
    std::vector<bool> created(nb_elements - kept, false);
    for (const index_t element : changes.created_elements) {
        if (element < kept || element >= nb_elements || created[element - kept]) {
            throw PolvaneException{update_operation, "The created element ", element,
                                   " is not one of the new elements ", kept, " to ",
                                   nb_elements, " (excluded), or is given twice."};
        }
        created[element - kept] = true;
    }
    check_below(changes.modified_elements, nb_elements, "modified element");
    check_below(changes.moved_vertices, nb_vertices, "moved vertex");
}

}  // namespace detail

template <typename Mesh>
ElementSearch<Mesh>::ElementSearch() : impl_{std::make_unique<Impl>()} {}

// A body rather than `= default`: g++ hides out-of-line defaulted members of class templates
// under -fvisibility-inlines-hidden, and the destructor must be exported.
template <typename Mesh>
ElementSearch<Mesh>::~ElementSearch() {}  // NOLINT(modernize-use-equals-default)

template <typename Mesh>
ElementSearch<Mesh>::ElementSearch(ElementSearch&& other) noexcept
    : impl_{std::move(other.impl_)} {}

template <typename Mesh>
ElementSearch<Mesh>& ElementSearch<Mesh>::operator=(ElementSearch&& other) noexcept {
    if (this != &other) {
        // Take the other's snapshot first; the previous one dies with `previous`, functor before
        // snapshot.
        auto previous = std::exchange(impl_, std::move(other.impl_));
    }
    return *this;
}

template <typename Mesh>
void ElementSearch<Mesh>::reinitialize_elements_tree(const Mesh& mesh) {
    // Everything new is built before anything is released, so a throwing copy or build leaves
    // the previous snapshot answering. The copy takes the caller's points and elements only
    // (not its attributes, adjacencies or edges, which no distance reads).
    auto snapshot = std::make_unique<LeafOrderedCopy<Mesh>>(mesh);
    auto distance = std::make_unique<typename Impl::Distance>(snapshot->mesh());
    if (!impl_) {
        impl_ = std::make_unique<Impl>();
    }
    std::swap(impl_->distance, distance);
    std::swap(impl_->snapshot, snapshot);
    // Locals die in reverse order of declaration: the previous functor (now in `distance`)
    // before the previous snapshot it refers to (now in `snapshot`).
}

template <typename Mesh>
void ElementSearch<Mesh>::update_elements_tree(const Mesh& mesh, const MeshChanges& changes) {
    if (!impl_ || !impl_->snapshot) {
        reinitialize_elements_tree(mesh);
        return;
    }
    detail::check_changes(changes, mesh, impl_->tree().nb_bboxes(),
                          impl_->snapshot->nb_source_vertices());
    impl_->snapshot->update(mesh, changes);
}

template <typename Mesh>
std::optional<index_t> ElementSearch<Mesh>::initial_containing_element(
    const Point<dimension>& point) const {
    if (!impl_ || !impl_->snapshot) {
        return std::nullopt;
    }
    return impl_->containing_element(point);
}

template <typename Mesh>
std::vector<std::optional<index_t>> ElementSearch<Mesh>::initial_containing_elements(
    absl::Span<const Point<dimension>> points) const {
    std::vector<std::optional<index_t>> answers(points.size());
    if (!impl_ || !impl_->snapshot || points.empty()) {
        return answers;
    }
    // Each answer is the single query's own; only the order of the work changes: the points
    // go along the tree's curve, in groups that descend the tree together.
    const auto& tree = impl_->tree();
    const auto& distance = *impl_->distance;
    if (tree.nb_bboxes() == 0) {
        // As the single query: a snapshot without elements answers "no index", not nothing.
        answers.assign(points.size(), NO_ID);
        return answers;
    }
    const std::vector<std::size_t> order = tree.curve_order(points);
    tree.closest_positions_within(points, order, distance, Impl::search_bound,
                                  [&](std::size_t i, index_t nearest, double best) {
                                      answers[i] = impl_->accepted(nearest, best);
                                  });
    return answers;
}

template class ElementSearch<EdgedCurve<1>>;
template class ElementSearch<TriangulatedSurface<2>>;
template class ElementSearch<TetrahedralSolid<3>>;

}  // namespace internal
}  // namespace orvex
