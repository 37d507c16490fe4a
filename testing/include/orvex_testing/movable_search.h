#pragma once

// An element search whose moves are public: the class keeps them for derived classes.

#include "orvex/background_common/element_search/element_search.h"

namespace orvex::test {

/// `ElementSearch<Mesh>` with its move operations public.
template <typename Mesh>
class MovableSearch : public internal::ElementSearch<Mesh> {
public:
    MovableSearch() = default;
    MovableSearch(MovableSearch&& other) noexcept = default;
    MovableSearch& operator=(MovableSearch&& other) noexcept = default;
};

}  // namespace orvex::test
