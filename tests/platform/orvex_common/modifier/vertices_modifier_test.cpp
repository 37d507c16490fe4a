#include "orvex_common/modifier/vertices_modifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "polvane/basic/polvane_exception.h"

namespace orvex {
namespace {

// The obvious model: for each initial vertex its current vertex, and a deleted flag per
// current vertex; every operation rewrites all of them.
class ReferenceModel {
public:
    explicit ReferenceModel(index_t nb_vertices)
        : where_(nb_vertices), deleted_(nb_vertices, false) {
        std::iota(where_.begin(), where_.end(), 0);
    }

    void merge(index_t from, index_t into) {
        if (from == into) {
            return;
        }
        for (index_t& current : where_) {
            if (current == from) {
                current = deleted_[into] ? NO_ID : into;
            }
        }
    }

    void delete_vertex(index_t vertex) {
        deleted_[vertex] = true;
        for (index_t& current : where_) {
            if (current == vertex) {
                current = NO_ID;
            }
        }
    }

    void add_vertices(index_t count) { deleted_.resize(deleted_.size() + count, false); }

    void apply_renumbering(const std::vector<index_t>& old2new, index_t nb_new) {
        for (index_t& current : where_) {
            if (current != NO_ID) {
                current = old2new[current];
            }
        }
        std::vector<bool> deleted(nb_new, false);
        for (index_t old_index = 0; old_index < old2new.size(); ++old_index) {
            if (old2new[old_index] != NO_ID) {
                deleted[old2new[old_index]] = deleted_[old_index];
            }
        }
        deleted_ = std::move(deleted);
    }

    [[nodiscard]] std::optional<index_t> updated_vertex(index_t vertex) const {
        if (where_[vertex] == NO_ID) {
            return std::nullopt;
        }
        return where_[vertex];
    }

    [[nodiscard]] index_t nb_vertices() const { return static_cast<index_t>(deleted_.size()); }

    [[nodiscard]] bool is_deleted(index_t vertex) const { return deleted_[vertex]; }

private:
    std::vector<index_t> where_;
    std::vector<bool> deleted_;
};

TEST(VerticesModifier, FollowsMergeChainsDeletionsAndRenumberings) {
    VerticesModifier modifier{6};
    modifier.merge(0, 1);
    modifier.merge(1, 2);  // 0 follows 1 into 2
    EXPECT_EQ(modifier.updated_vertex(0), 2U);
    EXPECT_EQ(modifier.updated_vertex(1), 2U);
    modifier.delete_vertex(5);
    modifier.merge(4, 5);  // merged into a deleted vertex: deleted too
    EXPECT_EQ(modifier.updated_vertex(4), std::nullopt);
    modifier.merge(5, 3);  // a deleted vertex stays deleted
    EXPECT_EQ(modifier.updated_vertex(5), std::nullopt);
    EXPECT_EQ(modifier.updated_vertex(3), 3U);
    // The mesh compacts: 0, 1, 4, 5 go, 2 -> 1, 3 -> 0.
    modifier.apply_renumbering({NO_ID, NO_ID, 1, 0, NO_ID, NO_ID});
    EXPECT_EQ(modifier.nb_vertices(), 2U);
    EXPECT_EQ(modifier.updated_vertex(0), 1U);
    EXPECT_EQ(modifier.updated_vertex(2), 1U);
    EXPECT_EQ(modifier.updated_vertex(3), 0U);
    modifier.add_vertices(1);
    modifier.merge(1, 2);  // into a vertex created after construction
    EXPECT_EQ(modifier.updated_vertex(0), 2U);
    EXPECT_EQ(modifier.updated_vertex(6), std::nullopt);
    EXPECT_EQ(modifier.updated_vertex(NO_ID), std::nullopt);
    EXPECT_EQ(modifier.nb_initial_vertices(), 6U);
}

TEST(VerticesModifier, InvalidCallsThrowAndChangeNothing) {
    VerticesModifier modifier{3};
    EXPECT_THROW(modifier.merge(0, 3), PolvaneException);
    EXPECT_THROW(modifier.delete_vertex(3), PolvaneException);
    EXPECT_THROW(modifier.apply_renumbering({0, 1}), PolvaneException);
    EXPECT_THROW(modifier.apply_renumbering({0, 1, 1}), PolvaneException);
    EXPECT_EQ(modifier.nb_vertices(), 3U);
    for (index_t v = 0; v < 3; ++v) {
        EXPECT_EQ(modifier.updated_vertex(v), v);
    }
    const VerticesModifier moved{std::move(modifier)};
    EXPECT_EQ(moved.updated_vertex(2), 2U);
}

TEST(VerticesModifier, MatchesReferenceModelOnRandomSequences) {
    std::mt19937_64 random{2024};
    for (int sequence = 0; sequence < 30; ++sequence) {
        const index_t nb_initial = 1 + static_cast<index_t>(random() % 40);
        VerticesModifier modifier{nb_initial};
        ReferenceModel model{nb_initial};
        for (int step = 0; step < 200 && model.nb_vertices() > 0; ++step) {
            const index_t n = model.nb_vertices();
            const auto pick = [&] { return static_cast<index_t>(random() % n); };
            const auto operation = random() % 10;
            if (operation < 5) {
                const index_t from = pick();
                const index_t into = pick();
                modifier.merge(from, into);
                model.merge(from, into);
            } else if (operation < 7) {
                const index_t vertex = pick();
                modifier.delete_vertex(vertex);
                model.delete_vertex(vertex);
            } else if (operation < 8) {
                const auto count = static_cast<index_t>(random() % 3);
                modifier.add_vertices(count);
                model.add_vertices(count);
            } else {
                // Compaction as a mesh does it: drop most deleted vertices and some others,
                // then shuffle the survivors.
                std::vector<index_t> kept;
                for (index_t v = 0; v < n; ++v) {
                    if (model.is_deleted(v) ? random() % 3 == 0 : random() % 4 != 0) {
                        kept.push_back(v);
                    }
                }
                std::shuffle(kept.begin(), kept.end(), random);
                std::vector<index_t> old2new(n, NO_ID);
                for (index_t k = 0; k < kept.size(); ++k) {
                    old2new[kept[k]] = k;
                }
                modifier.apply_renumbering(old2new);
                model.apply_renumbering(old2new, static_cast<index_t>(kept.size()));
            }
            ASSERT_EQ(modifier.nb_vertices(), model.nb_vertices());
            for (index_t v = 0; v < nb_initial; ++v) {
                ASSERT_EQ(modifier.updated_vertex(v), model.updated_vertex(v))
                    << "sequence " << sequence << " step " << step << " vertex " << v;
            }
        }
    }
}

// Queries only read the union-find (no path compression on the way): several threads may ask
// at once while nobody changes the modifier.
TEST(VerticesModifier, ConcurrentQueriesAgreeWithOneThread) {
    constexpr index_t n = 2000;
    VerticesModifier modifier{n};
    for (index_t v = 1; v < n; v += 2) {
        modifier.merge(v, v - 1);
    }
    for (index_t v = 0; v + 4 < n; v += 4) {
        modifier.merge(v, v + 4);
    }
    modifier.delete_vertex(n - 4);
    std::vector<std::optional<index_t>> expected(n);
    for (index_t v = 0; v < n; ++v) {
        expected[v] = modifier.updated_vertex(v);
    }
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (index_t v = 0; v < n; ++v) {
                mismatches[t] += modifier.updated_vertex(v) != expected[v] ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace orvex
