#include "element_kinds.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "reader_text.h"

namespace orvex::examples::detail {

void Elements::add_triangle(const std::array<index_t, 3>& vertices, std::int32_t reference) {
    top_ = std::max(top_, 2);
    mesh_.triangles.push_back(vertices);
    mesh_.triangle_references.push_back(reference);
}

void Elements::add_tetrahedron(const std::array<index_t, 4>& vertices, std::int32_t reference) {
    top_ = std::max(top_, 3);
    mesh_.tetrahedra.push_back(vertices);
    mesh_.tetrahedron_references.push_back(reference);
}

void Elements::add_edge(const std::array<index_t, 2>& vertices, std::int32_t reference) {
    top_ = std::max(top_, 1);
    mesh_.edges.push_back(vertices);
    mesh_.edge_references.push_back(reference);
}

void Elements::skip(std::string_view kind, int dimension) {
    top_ = std::max(top_, dimension);
    skipped_.count(kind, dimension);
}

void Elements::corners_of(std::string_view kind, int dimension) {
    cornered_.count(kind, dimension);
}

void Elements::Tally::count(std::string_view kind, int dimension) {
    // Files list their elements kind by kind: the last kind is the usual answer.
    if (last_ < kinds.size() && kinds[last_].name == kind) {
        ++kinds[last_].count;
        return;
    }
    const auto [at, added] = index_.try_emplace(std::string{kind}, kinds.size());
    if (added) {
        kinds.push_back({std::string{kind}, dimension, 0});
    }
    last_ = at->second;
    ++kinds[last_].count;
}

void Elements::finish() {
    mesh_.vertex_references.assign(mesh_.nb_vertices(), 0);
    std::vector<Kind> skipped;
    const auto drop = [&](auto& elements, auto& references, const char* kind, int dimension) {
        if (!elements.empty() && dimension < top_) {
            skipped.push_back({kind, dimension, elements.size()});
            elements.clear();
            elements.shrink_to_fit();
            references.clear();
            references.shrink_to_fit();
        }
    };
    drop(mesh_.edges, mesh_.edge_references, "lines", 1);
    drop(mesh_.triangles, mesh_.triangle_references, "triangles", 2);
    std::move(skipped_.kinds.begin(), skipped_.kinds.end(), std::back_inserter(skipped));
    std::size_t others = 0;
    for (std::size_t k = 0; k < skipped.size(); ++k) {
        const Kind& s = skipped[k];
        if (k >= listed_kinds) {
            others += s.count;
        } else if (s.dimension >= 0 && s.dimension < top_) {
            mesh_.notes.push_back(
                concat("skipped ", s.count, " ", s.name, " (of lower dimension than the mesh)"));
        } else {
            mesh_.notes.push_back(concat("skipped ", s.count, " ", s.name,
                                         " (only triangles, tetrahedra and edges are read)"));
        }
    }
    if (skipped.size() > listed_kinds) {
        mesh_.notes.push_back(concat("skipped ", others, " more elements of ",
                                     skipped.size() - listed_kinds, " other kinds"));
    }
    for (const Kind& s : cornered_.kinds) {
        if (s.dimension == top_) {
            mesh_.notes.push_back(
                concat("kept only the corners of ", s.count, " ", s.name, " (the mesh is linear)"));
        }
    }
}

}  // namespace orvex::examples::detail
