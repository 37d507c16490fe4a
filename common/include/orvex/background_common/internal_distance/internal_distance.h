#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "orvex/background_common/export.h"

namespace orvex {
namespace internal {

/// One configuration that makes a triangle or a tetrahedron close to flat: which two of its own
/// features lie close to each other and how close, or which adjacency pattern of the
/// surrounding mesh folds it onto a neighbour.
///
/// Vertices are local indices inside the element (0 to 2 in a triangle, 0 to 3 in a
/// tetrahedron); 255 stands for "none". A plain, trivially copyable record.
struct ORVEX_BACKGROUND_COMMON_EXPORT InternalDistance {
    /// Which configuration a record describes, and which fields it fills.
    enum struct CONFIGURATION_TYPE : std::uint32_t {
        /// Two vertices close to each other: `vertices` holds them.
        point_point = 0,
        /// A vertex (`vertex`) close to an edge that does not contain it (`vertices`).
        point_segment = 1,
        /// A vertex of a tetrahedron (`vertex`) close to the facet opposite to it.
        point_triangle = 2,
        /// Two opposite edges of a tetrahedron close to each other: `vertices` holds the first
        /// edge, the second is made of the two remaining vertices.
        segment_segment = 3,
        /// An edge of a tetrahedron (`vertices`) whose two facets have the same neighbour.
        edge_same_adjacent = 4,
        /// A vertex (`vertex`) whose incident sides all have the same neighbour.
        vertex_same_adjacent = 5,
        /// No configuration.
        undefined = 6
    };

    /// How an element stands, from its internal distance and its orientation.
    enum struct ELEMENT_STATUS : std::uint32_t {
        /// No internal distance at most 1e-6, correctly oriented.
        valid = 0,
        /// Some internal distance at most 1e-6.
        degenerated = 1,
        /// Not degenerated, and not correctly oriented (a zero orientation sign included).
        inverted = 2
    };

    /// Parameters of the threshold scans. No defaults are meaningful for every mesh: callers
    /// set both.
    struct Options {
        /// Largest distance reported: a configuration is reported when its distance is at most
        /// this (a NaN threshold reports no geometric configuration).
        double threshold{0};
        /// On mesh elements, also look for elements folded onto a neighbour before the
        /// vertex-to-edge configurations (ignored for free-standing elements).
        bool check_adjacencies{false};
    };

    /// "No configuration": `undefined`, the largest finite distance, no vertex.
    InternalDistance() = default;

    /// A `point_point` or `segment_segment` record (or any type with a pair of vertices).
    InternalDistance(CONFIGURATION_TYPE type_in, double distance_in,
                     std::array<unsigned char, 2> vertices_in)
        : type(type_in), distance(distance_in), vertices(vertices_in) {}

    /// An `edge_same_adjacent` record: the edge, at distance 0.
    explicit InternalDistance(std::array<unsigned char, 2> vertices_in)
        : type(CONFIGURATION_TYPE::edge_same_adjacent), distance(0), vertices(vertices_in) {}

    /// A `point_segment` record: the vertex and the edge.
    InternalDistance(double distance_in, unsigned char vertex_in,
                     std::array<unsigned char, 2> vertices_in)
        : type(CONFIGURATION_TYPE::point_segment),
          distance(distance_in),
          vertex(vertex_in),
          vertices(vertices_in) {}

    /// A `point_triangle` record: the vertex, close to its opposite facet.
    InternalDistance(double distance_in, unsigned char vertex_in)
        : type(CONFIGURATION_TYPE::point_triangle), distance(distance_in), vertex(vertex_in) {}

    /// A `vertex_same_adjacent` record: the vertex, at distance 0.
    explicit InternalDistance(unsigned char vertex_in)
        : type(CONFIGURATION_TYPE::vertex_same_adjacent), distance(0), vertex(vertex_in) {}

    /// Orders by configuration type first, then by distance within one type; `vertex` and
    /// `vertices` take no part. A NaN distance compares false.
    [[nodiscard]] bool operator<(const InternalDistance& other) const {
        if (type != other.type) {
            return type < other.type;
        }
        return distance < other.distance;
    }

    /// "Type: 1, Distance: 0.707107, Vertex: 0, Vertices: 1 2": every field, the distance in
    /// six significant digits (as %g writes it), unused indices as 255.
    [[nodiscard]] std::string string() const;

    /// Which configuration realises the distance; `undefined` when none was measured.
    CONFIGURATION_TYPE type{CONFIGURATION_TYPE::undefined};
    /// The distance itself; the largest double when none was measured.
    double distance{std::numeric_limits<double>::max()};
    /// The local index of the configuration's single vertex, 255 when it has none.
    unsigned char vertex{255};
    /// The local indices of the configuration's two vertices (or edge), 255 where unused.
    std::array<unsigned char, 2> vertices{{255, 255}};
};

}  // namespace internal
}  // namespace orvex
