#pragma once

#include <absl/strings/str_cat.h>

#include <string>

#include "polvane/basic/index.h"

/// Identifiers of the local features of mesh elements: an element index and local indices
/// inside that element. They are plain value records; a default-constructed record names
/// nothing (element `NO_ID`, local indices `NO_LID`).
///
/// Local numbering, shared by every mesh of this module:
/// - edge of a curve: local vertices 0 and 1;
/// - triangle: local edge e joins the local vertices e and (e + 1) mod 3;
/// - tetrahedron: local facet f is the facet opposite local vertex f, with the local vertices
///   (1, 3, 2), (0, 2, 3), (3, 1, 0), (0, 1, 2) for f = 0, 1, 2, 3. All four facets turn the
///   same way: for a positively oriented tetrahedron (`tetrahedron_volume_sign`), the normal
///   (q1 - q0) x (q2 - q0) of each facet (q0, q1, q2) points towards the opposite vertex.
///   Local edge k of a facet joins its k-th and ((k + 1) mod 3)-th vertex.
namespace orvex {

/// A vertex of an edge of a curve.
struct EdgeVertex {
    index_t edge_id{NO_ID};
    local_index_t vertex_id{NO_LID};

    friend bool operator==(const EdgeVertex& a, const EdgeVertex& b) {
        return a.edge_id == b.edge_id && a.vertex_id == b.vertex_id;
    }

    friend bool operator!=(const EdgeVertex& a, const EdgeVertex& b) { return !(a == b); }

    /// "e<edge> v<vertex>", for messages and failing tests.
    [[nodiscard]] std::string string() const {
        return absl::StrCat("e", edge_id, " v", static_cast<int>(vertex_id));
    }
};

/// A local vertex of a polygon.
struct PolygonVertex {
    index_t polygon_id{NO_ID};
    local_index_t vertex_id{NO_LID};

    friend bool operator==(const PolygonVertex& a, const PolygonVertex& b) {
        return a.polygon_id == b.polygon_id && a.vertex_id == b.vertex_id;
    }

    friend bool operator!=(const PolygonVertex& a, const PolygonVertex& b) { return !(a == b); }

    [[nodiscard]] std::string string() const {
        return absl::StrCat("p", polygon_id, " v", static_cast<int>(vertex_id));
    }
};

/// A local edge of a polygon.
struct PolygonEdge {
    index_t polygon_id{NO_ID};
    local_index_t edge_id{NO_LID};

    friend bool operator==(const PolygonEdge& a, const PolygonEdge& b) {
        return a.polygon_id == b.polygon_id && a.edge_id == b.edge_id;
    }

    friend bool operator!=(const PolygonEdge& a, const PolygonEdge& b) { return !(a == b); }

    [[nodiscard]] std::string string() const {
        return absl::StrCat("p", polygon_id, " e", static_cast<int>(edge_id));
    }
};

/// A local vertex of a polyhedron.
struct PolyhedronVertex {
    index_t polyhedron_id{NO_ID};
    local_index_t vertex_id{NO_LID};

    friend bool operator==(const PolyhedronVertex& a, const PolyhedronVertex& b) {
        return a.polyhedron_id == b.polyhedron_id && a.vertex_id == b.vertex_id;
    }

    friend bool operator!=(const PolyhedronVertex& a, const PolyhedronVertex& b) {
        return !(a == b);
    }

    [[nodiscard]] std::string string() const {
        return absl::StrCat("P", polyhedron_id, " v", static_cast<int>(vertex_id));
    }
};

/// A local facet of a polyhedron.
struct PolyhedronFacet {
    index_t polyhedron_id{NO_ID};
    local_index_t facet_id{NO_LID};

    friend bool operator==(const PolyhedronFacet& a, const PolyhedronFacet& b) {
        return a.polyhedron_id == b.polyhedron_id && a.facet_id == b.facet_id;
    }

    friend bool operator!=(const PolyhedronFacet& a, const PolyhedronFacet& b) { return !(a == b); }

    [[nodiscard]] std::string string() const {
        return absl::StrCat("P", polyhedron_id, " f", static_cast<int>(facet_id));
    }
};

/// A local edge of a local facet of a polyhedron.
struct PolyhedronFacetEdge {
    PolyhedronFacet polyhedron_facet;
    local_index_t edge_id{NO_LID};

    friend bool operator==(const PolyhedronFacetEdge& a, const PolyhedronFacetEdge& b) {
        return a.polyhedron_facet == b.polyhedron_facet && a.edge_id == b.edge_id;
    }

    friend bool operator!=(const PolyhedronFacetEdge& a, const PolyhedronFacetEdge& b) {
        return !(a == b);
    }

    [[nodiscard]] std::string string() const {
        return absl::StrCat(polyhedron_facet.string(), " e", static_cast<int>(edge_id));
    }
};

}  // namespace orvex
