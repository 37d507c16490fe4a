#include "polvane/geometry/aabb_tree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "box_encoding.h"
#include "curve_order.h"
#include "polvane/basic/polvane_exception.h"

namespace orvex {
namespace detail {
namespace {

// Element boxes given as an array.
template <index_t D>
class ArrayBoxes {
public:
    explicit ArrayBoxes(absl::Span<const BoundingBox<D>> boxes) : boxes_(boxes) {}

    [[nodiscard]] BoundingBox<D> box(index_t element) const { return boxes_[element]; }

    [[nodiscard]] std::array<double, D> center(index_t element) const {
        return box_center(boxes_[element]);
    }

    [[nodiscard]] CurveFrame<D> frame() const {
        FiniteRange<D> range;
        for (const BoundingBox<D>& box : boxes_) {
            range.add(coordinates(box.min()));
            range.add(coordinates(box.max()));
        }
        return range.frame();
    }

private:
    absl::Span<const BoundingBox<D>> boxes_;
};

// Element boxes computed from the vertices of simplices.
template <index_t D>
class SimplexBoxes {
public:
    SimplexBoxes(absl::Span<const Point<D>> points,
                 absl::Span<const std::array<index_t, D + 1>> elements)
        : points_(points), elements_(elements) {}

    [[nodiscard]] BoundingBox<D> box(index_t element) const {
        BoundingBox<D> result;
        for (const index_t vertex : elements_[element]) {
            result.add_point(points_[vertex]);
        }
        return result;
    }

    [[nodiscard]] std::array<double, D> center(index_t element) const {
        return box_center(box(element));
    }

    // The finite range of all the points: it holds every finite centre.
    [[nodiscard]] CurveFrame<D> frame() const {
        FiniteRange<D> range;
        for (const Point<D>& point : points_) {
            range.add(coordinates(point));
        }
        return range.frame();
    }

private:
    absl::Span<const Point<D>> points_;
    absl::Span<const std::array<index_t, D + 1>> elements_;
};

// The leaf order of the elements of `source` (n of them, n >= 1): sorted along the curve of
// their box centres. With `rounded_boxes`, each element's box, rounded outward in `box_frame`,
// is stored there too (by element), from the same pass that reads the vertices.
template <index_t D, typename Source>
std::vector<index_t> curve_leaves(const Source& source, index_t n, const BoxFrame<D>& box_frame,
                                  FloatBox<D>* rounded_boxes) {
    auto items = uninitialised<CurveItem>(n);
    {
        auto scratch = uninitialised<CurveItem>(n);
        const CurveFrame<D> frame = source.frame();
        for (index_t i = 0; i < n; ++i) {
            const BoundingBox<D> box = source.box(i);
            if (rounded_boxes != nullptr) {
                rounded_boxes[i] = encoded(box, box_frame);
            }
            items[i] = (CurveItem{frame.key(box_center(box))} << 32U) | i;
        }
        sort_along_curve<D>(
            items.get(), scratch.get(), n, frame,
            [&source](index_t element) { return source.center(element); }, true);
    }
    std::vector<index_t> leaves(n);
    for (index_t i = 0; i < n; ++i) {
        leaves[i] = item_index(items[i]);
    }
    return leaves;
}

}  // namespace
}  // namespace detail

template <index_t D>
std::vector<index_t> AABBTree<D>::leaf_order(
    absl::Span<const Point<D>> points, absl::Span<const std::array<index_t, D + 1>> elements) {
    check_index_range(elements.size());
    if (elements.empty()) {
        return {};
    }
    return detail::curve_leaves<D>(detail::SimplexBoxes<D>{points, elements},
                                   static_cast<index_t>(elements.size()), detail::BoxFrame<D>{},
                                   nullptr);
}

template <index_t D>
AABBTree<D>::AABBTree(absl::Span<const Point<D>> points,
                      absl::Span<const std::array<index_t, D + 1>> ordered_elements,
                      std::vector<index_t> leaves) {
    check_index_range(ordered_elements.size());
    if (leaves.size() != ordered_elements.size()) {
        throw PolvaneException{"[AABBTree] ", leaves.size(), " leaves given for ",
                               ordered_elements.size(), " elements"};
    }
    if (leaves.empty()) {
        return;
    }
    // In leaf order already: each element's box is computed as the builder reaches its leaf,
    // in sequence, with no box array at all.
    const detail::SimplexBoxes<D> source{points, ordered_elements};
    frame_ =
        detail::robust_frame<D>(static_cast<index_t>(leaves.size()),
                                [&source](index_t position) { return source.center(position); });
    // Read through locals, which the builder's stores cannot change (a moved vector keeps its
    // buffer), rather than through `this`, which the compiler would reload after each store.
    // The usual identity frame is tested once here rather than at each bound.
    const index_t* const leaf_elements = leaves.data();
    const detail::BoxFrame<D> frame = frame_;
    if (frame.is_identity()) {
        build_nodes(
            [leaf_elements, &source](index_t position) {
                return leaf_elements[position] == NO_ID ? FloatBox::empty()
                                                        : detail::encoded(source.box(position));
            },
            std::move(leaves));
        return;
    }
    build_nodes(
        [leaf_elements, &frame, &source](index_t position) {
            return leaf_elements[position] == NO_ID ? FloatBox::empty()
                                                    : detail::encoded(source.box(position), frame);
        },
        std::move(leaves));
}

template <index_t D>
AABBTree<D>::AABBTree(absl::Span<const BoundingBox<D>> element_boxes) {
    build(detail::ArrayBoxes<D>{element_boxes}, element_boxes.size());
}

template <index_t D>
AABBTree<D>::AABBTree(absl::Span<const Point<D>> points,
                      absl::Span<const std::array<index_t, D + 1>> elements) {
    build(detail::SimplexBoxes<D>{points, elements}, elements.size());
}

template <index_t D>
template <typename Source>
void AABBTree<D>::build(const Source& source, std::size_t size) {
    check_index_range(size);
    if (size == 0) {
        return;
    }
    const auto n = static_cast<index_t>(size);
    // Each element's box is computed once, in element order (the order in which its vertices
    // are stored, so mostly sequential reads): its centre's key and its rounded box, which is
    // then gathered into leaf order in one pass of independent loads, so that the builder's
    // recursion reads the boxes in sequence instead of waiting on each.
    frame_ =
        detail::robust_frame<D>(n, [&source](index_t element) { return source.center(element); });
    auto element_boxes = detail::uninitialised<FloatBox>(n);
    std::vector<index_t> leaves = detail::curve_leaves<D>(source, n, frame_, element_boxes.get());
    auto leaf_boxes = detail::uninitialised<FloatBox>(n);
    for (index_t i = 0; i < n; ++i) {
        leaf_boxes[i] = element_boxes[leaves[i]];
    }
    element_boxes.reset();
    build_nodes([&leaf_boxes](index_t position) { return leaf_boxes[position]; },
                std::move(leaves));
}

template <index_t D>
template <typename LeafBox>
void AABBTree<D>::build_nodes(const LeafBox& leaf_box, std::vector<index_t> leaves) {
    // Records written once each by the builder, never filled beforehand. The leaves are in
    // place first: `leaf_box` may read them.
    auto inner = detail::uninitialised<ChildBoxes>(leaves.size() - 1);
    leaves_ = std::move(leaves);
    nb_elements_ =
        static_cast<index_t>(leaves_.size() - std::count(leaves_.begin(), leaves_.end(), NO_ID));
    detail::BoxBuilder<D, LeafBox> builder{leaf_box, inner.get()};
    root_ = builder.node(0, 0, nb_positions());
    inner_ = std::move(inner);
}

template <index_t D>
AABBTree<D>& AABBTree<D>::operator=(AABBTree&& other) noexcept {
    if (this != &other) {
        frame_ = other.frame_;
        root_ = std::exchange(other.root_, FloatBox::empty());
        nb_elements_ = std::exchange(other.nb_elements_, 0);
        inner_ = std::move(other.inner_);
        leaves_ = std::move(other.leaves_);
        positions_ = std::move(other.positions_);
        other.leaves_.clear();
        other.positions_.clear();
        cancel_update();
        other.cancel_update();
    }
    return *this;
}

template <index_t D>
BoundingBox<D> AABBTree<D>::node_box(std::size_t node) const {
    POLVANE_DEBUG_ASSERT(node >= 1 && !leaves_.empty(), "[AABBTree::node_box] Node ", node,
                         " is not in the tree");
    unsigned depth = 0;
    while ((node >> (depth + 1)) != 0) {
        ++depth;
    }
    std::size_t inner = 0;
    index_t begin = 0;
    index_t end = nb_positions();
    FloatBox box = root_;
    for (unsigned level = depth; level-- > 0;) {
        POLVANE_DEBUG_ASSERT(end - begin > 1, "[AABBTree::node_box] Node ", node,
                             " is not in the tree");
        const bool right = ((node >> level) & 1U) != 0;
        box = inner_[inner].child(right ? 1 : 0);
        step_down(right, inner, begin, end);
    }
    return frame_.world(box);
}

template <index_t D>
std::size_t AABBTree<D>::memory_bytes() const {
    const std::size_t nb_inner = leaves_.empty() ? 0 : leaves_.size() - 1;
    return sizeof(*this) + nb_inner * sizeof(ChildBoxes) + leaves_.capacity() * sizeof(index_t);
}

template <index_t D>
std::vector<std::size_t> AABBTree<D>::curve_order(absl::Span<const Point<D>> points) const {
    std::vector<std::size_t> order;
    order.reserve(points.size());
    if (points.size() > std::numeric_limits<index_t>::max()) {
        // Too many to number in a sort item: the input order (the answers are the same).
        for (std::size_t i = 0; i < points.size(); ++i) {
            order.push_back(i);
        }
        return order;
    }
    // The frame of the leaves where the root box is finite, else that of the points.
    detail::FiniteRange<D> range;
    bool finite_root = !(root_.min[0] > root_.max[0]);
    for (index_t axis = 0; axis < D; ++axis) {
        finite_root =
            finite_root && std::isfinite(root_.min[axis]) && std::isfinite(root_.max[axis]);
    }
    if (finite_root) {
        const BoundingBox<D> root = root_box();
        range.add(detail::coordinates(root.min()));
        range.add(detail::coordinates(root.max()));
    } else {
        for (const Point<D>& point : points) {
            range.add(detail::coordinates(point));
        }
    }
    const std::size_t size = points.size();
    auto items = detail::uninitialised<detail::CurveItem>(size);
    auto scratch = detail::uninitialised<detail::CurveItem>(size);
    for (std::size_t i = 0; i < size; ++i) {
        items[i] = i;
    }
    detail::sort_along_curve<D>(
        items.get(), scratch.get(), size, range.frame(),
        [points](index_t index) { return detail::coordinates(points[index]); });
    for (std::size_t i = 0; i < size; ++i) {
        order.push_back(detail::item_index(items[i]));
    }
    return order;
}

template class AABBTree<1>;
template class AABBTree<2>;
template class AABBTree<3>;

}  // namespace orvex
