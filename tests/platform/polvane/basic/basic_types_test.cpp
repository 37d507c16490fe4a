#include <absl/hash/hash_testing.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <unordered_set>

#include "polvane/basic/index.h"
#include "polvane/basic/mapping.h"
#include "polvane/basic/mesh_element.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/uuid.h"

namespace orvex {
namespace {

TEST(PolvaneException, ConcatenatesPiecesWithNumbersAsDecimalText) {
    const PolvaneException error{"[Range] Invalid range: ", 42u, " > ", -7, " and ", 0.5,
                                 std::string{" end"}};
    EXPECT_STREQ(error.what(), "[Range] Invalid range: 42 > -7 and 0.5 end");
    const std::runtime_error& as_base = error;
    EXPECT_STREQ(as_base.what(), error.what());
}

TEST(IndexRange, RefusesListsLongerThanTheLargestIndex) {
    EXPECT_NO_THROW(check_index_range(0));
    EXPECT_NO_THROW(check_index_range(4294967295ull));
    try {
        check_index_range(4294967296ull);
        FAIL() << "no exception";
    } catch (const PolvaneException& error) {
        EXPECT_STREQ(error.what(), "[Range] Invalid range: 4294967296 > 4294967295");
    }
    EXPECT_EQ(NO_ID, 4294967295u);
    EXPECT_EQ(NO_LID, 255u);
}

TEST(Uuid, RandomIdentifiersAreDistinctVersionFourAndRoundTripThroughText) {
    std::set<uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const uuid id;
        EXPECT_EQ(id.bytes()[6] >> 4, 4);
        EXPECT_EQ(id.bytes()[8] >> 6, 2);
        const std::string text = id.string();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(uuid{text}, id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(Uuid, ParsesBothCasesAndRefusesMalformedText) {
    const uuid lower{"0123abcd-4567-89ef-0123-456789abcdef"};
    const uuid upper{"0123ABCD-4567-89EF-0123-456789ABCDEF"};
    EXPECT_EQ(lower, upper);
    EXPECT_EQ(lower.string(), "0123abcd-4567-89ef-0123-456789abcdef");
    for (const char* bad :
         {"", "0123abcd-4567-89ef-0123-456789abcde", "0123abcd-4567-89ef-0123-456789abcdeg",
          "0123abcd+4567-89ef-0123-456789abcdef", "0123abc-d4567-89ef-0123-456789abcdef"}) {
        EXPECT_THROW(uuid{bad}, PolvaneException) << bad;
    }
}

TEST(Uuid, OrdersByBytesAndHashesConsistently) {
    std::array<std::uint8_t, 16> small{};
    std::array<std::uint8_t, 16> large{};
    large[0] = 1;
    EXPECT_LT(uuid{small}, uuid{large});
    EXPECT_FALSE(uuid{large} < uuid{small});
    EXPECT_TRUE(
        absl::VerifyTypeImplementsAbslHashCorrectly({uuid{small}, uuid{large}, uuid{}, uuid{}}));
    EXPECT_EQ(std::hash<uuid>{}(uuid{large}), std::hash<uuid>{}(uuid{large}));
}

TEST(MeshElementIdentifiers, CompareComponentAndIndexAndHashAlike) {
    const uuid a;
    const uuid b;
    EXPECT_EQ((MeshEdge{a, 3}), (MeshEdge{a, 3}));
    EXPECT_NE((MeshEdge{a, 3}), (MeshEdge{a, 4}));
    EXPECT_NE((MeshEdge{a, 3}), (MeshEdge{b, 3}));
    EXPECT_NE((MeshVertex{a, 0}), (MeshVertex{b, 0}));
    EXPECT_NE((MeshElement{a, 1}), (MeshElement{a, 2}));
    EXPECT_TRUE(absl::VerifyTypeImplementsAbslHashCorrectly(
        {MeshEdge{a, 3}, MeshEdge{a, 4}, MeshEdge{b, 3}, MeshEdge{b, 4}}));
    std::unordered_set<MeshVertex> vertices{{a, 1}, {a, 1}, {b, 1}};
    EXPECT_EQ(vertices.size(), 2u);
    EXPECT_EQ((MeshElement{a, 7}).string(), a.string() + " f7");
}

TEST(OldToNewMapping, IteratesOldIndicesInOrderAndKeepsEachPairOnce) {
    OldToNewMapping mapping;
    mapping.map(5, 1);
    mapping.map(2, 0);
    mapping.map(5, 3);
    mapping.map(5, 1);
    ASSERT_EQ(mapping.size(), 2u);
    auto it = mapping.begin();
    EXPECT_EQ(it->first, 2u);
    ++it;
    EXPECT_EQ(it->first, 5u);
    EXPECT_EQ(std::vector<index_t>(it->second.begin(), it->second.end()),
              (std::vector<index_t>{1, 3}));
    EXPECT_TRUE(mapping.has_mapping(2));
    EXPECT_FALSE(mapping.has_mapping(3));
    EXPECT_TRUE(mapping.new_indices(3).empty());
}

TEST(Mappings, HoldNewIndexThenOldIndices) {
    const Mapping<index_t> single{4, NO_ID};
    EXPECT_EQ(single.new_index, 4u);
    EXPECT_EQ(single.old_index, NO_ID);
    const MultiMapping<index_t> multi{7, {1, NO_ID, 3}};
    EXPECT_EQ(multi.old_indices.size(), 3u);
    EXPECT_EQ((multi), (MultiMapping<index_t>{7, {1, NO_ID, 3}}));
}

}  // namespace
}  // namespace orvex
