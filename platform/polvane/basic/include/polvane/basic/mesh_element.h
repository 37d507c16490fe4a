#pragma once

#include <absl/hash/hash.h>
#include <absl/strings/str_cat.h>

#include <functional>
#include <string>

#include "polvane/basic/index.h"
#include "polvane/basic/uuid.h"

namespace orvex {

/// One vertex of one component of a model: the component's identifier and the vertex index in
/// that component. Equal when both the identifiers (compared first) and the indices are equal.
struct MeshVertex {
    uuid component_id;
    index_t vertex{NO_ID};

    friend bool operator==(const MeshVertex& a, const MeshVertex& b) {
        return a.component_id == b.component_id && a.vertex == b.vertex;
    }

    friend bool operator!=(const MeshVertex& a, const MeshVertex& b) { return !(a == b); }

    template <typename H>
    friend H AbslHashValue(H h, const MeshVertex& value) {
        return H::combine(std::move(h), value.component_id, value.vertex);
    }

    /// "<uuid> v<index>", for messages and failing tests.
    [[nodiscard]] std::string string() const {
        return absl::StrCat(component_id.string(), " v", vertex);
    }
};

/// One edge of one component of a model; equality as for `MeshVertex`.
struct MeshEdge {
    uuid component_id;
    index_t edge{NO_ID};

    friend bool operator==(const MeshEdge& a, const MeshEdge& b) {
        return a.component_id == b.component_id && a.edge == b.edge;
    }

    friend bool operator!=(const MeshEdge& a, const MeshEdge& b) { return !(a == b); }

    template <typename H>
    friend H AbslHashValue(H h, const MeshEdge& value) {
        return H::combine(std::move(h), value.component_id, value.edge);
    }

    [[nodiscard]] std::string string() const {
        return absl::StrCat(component_id.string(), " e", edge);
    }
};

/// One element of one component of a model; equality as for `MeshVertex`.
struct MeshElement {
    uuid component_id;
    index_t element{NO_ID};

    friend bool operator==(const MeshElement& a, const MeshElement& b) {
        return a.component_id == b.component_id && a.element == b.element;
    }

    friend bool operator!=(const MeshElement& a, const MeshElement& b) { return !(a == b); }

    template <typename H>
    friend H AbslHashValue(H h, const MeshElement& value) {
        return H::combine(std::move(h), value.component_id, value.element);
    }

    [[nodiscard]] std::string string() const {
        return absl::StrCat(component_id.string(), " f", element);
    }
};

}  // namespace orvex

namespace std {
template <>
struct hash<orvex::MeshVertex> {
    size_t operator()(const orvex::MeshVertex& value) const { return absl::HashOf(value); }
};

template <>
struct hash<orvex::MeshEdge> {
    size_t operator()(const orvex::MeshEdge& value) const { return absl::HashOf(value); }
};

template <>
struct hash<orvex::MeshElement> {
    size_t operator()(const orvex::MeshElement& value) const { return absl::HashOf(value); }
};
}  // namespace std
