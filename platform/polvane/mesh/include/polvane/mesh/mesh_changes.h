#pragma once

#include <vector>

#include "polvane/basic/index.h"

namespace orvex {

/// What changed in a simplicial mesh between two of its states, for a structure that follows
/// the mesh (such as an element search) to bring itself up to date by reading only what
/// changed. A plain record: the caller fills it, then hands it over with the mesh in its new
/// state.
///
/// The changes are read in this order:
/// 1. the renumberings, from the old state's indices to the new state's: the old-to-new maps
///    that the builder's deletions return (`NO_ID` for a deleted element or vertex), or the
///    inverse of a permutation. Empty: nothing was renumbered. The kept elements (vertices)
///    take exactly the first indices of the new state, in any order;
/// 2. in the new numbering: the created elements, which are exactly the indices after the
///    kept ones (new vertices need no list: they are the indices after the kept vertices);
///    the kept elements whose vertex list changed (for instance replaced in place by a split);
///    and the kept vertices that moved.
/// Indices may be listed more than once. The elements that use a moved vertex need not be
/// listed: the follower finds them.
struct MeshChanges {
    /// One entry per element of the old state: its new index, or `NO_ID` when it was deleted.
    std::vector<index_t> element_renumbering;
    /// One entry per vertex of the old state: its new index, or `NO_ID` when it was deleted.
    std::vector<index_t> vertex_renumbering;
    /// The elements created since the old state (new numbering).
    std::vector<index_t> created_elements;
    /// The kept elements whose vertices changed (new numbering).
    std::vector<index_t> modified_elements;
    /// The kept vertices whose coordinates changed (new numbering).
    std::vector<index_t> moved_vertices;
};

}  // namespace orvex
