#include <vector>

#include <gtest/gtest.h>

#include "orvex/background_common/insertion/element_insertion_info.h"

namespace orvex {
namespace internal {
namespace {

using Status = ElementInsertionInfo::INSERTION_STATUS;

std::vector<index_t> list_of(const ElementInsertionInfo& info, Status status) {
    const auto found = info.elements.find(status);
    return found == info.elements.end() ? std::vector<index_t>{} : found->second;
}

TEST(ElementInsertionInfo, StatusValuesAreFixed) {
    EXPECT_EQ(static_cast<int>(Status::fully_inserted), 0);
    EXPECT_EQ(static_cast<int>(Status::partially_inserted), 1);
    EXPECT_EQ(static_cast<int>(Status::inserted), 2);
    EXPECT_EQ(static_cast<int>(Status::not_inserted), 3);
    EXPECT_EQ(static_cast<int>(Status::degenerated), 4);
}

TEST(ElementInsertionInfo, AddKeepsCallOrderRepeatsAndSeveralStatuses) {
    ElementInsertionInfo info;
    EXPECT_TRUE(info.elements.empty());
    EXPECT_FALSE(info.elements.contains(Status::inserted));
    info.add(Status::inserted, 7);
    info.add(Status::inserted, 7);
    info.add(Status::not_inserted, 7);
    for (const index_t element : {5u, 2u, 9u}) {
        info.add(Status::degenerated, element);
    }
    EXPECT_EQ(list_of(info, Status::inserted), (std::vector<index_t>{7, 7}));
    EXPECT_EQ(list_of(info, Status::not_inserted), (std::vector<index_t>{7}));
    EXPECT_EQ(list_of(info, Status::degenerated), (std::vector<index_t>{5, 2, 9}));
    EXPECT_EQ(info.elements.size(), 3u);
}

TEST(ElementInsertionInfo, CopiesAreIndependentAndMovesEmptyTheSource) {
    ElementInsertionInfo source;
    source.add(Status::inserted, 1);
    ElementInsertionInfo copy{source};
    copy.add(Status::inserted, 2);
    source.add(Status::degenerated, 3);
    EXPECT_EQ(list_of(source, Status::inserted), (std::vector<index_t>{1}));
    EXPECT_EQ(list_of(copy, Status::inserted), (std::vector<index_t>{1, 2}));
    EXPECT_FALSE(copy.elements.contains(Status::degenerated));

    ElementInsertionInfo assigned;
    assigned.add(Status::not_inserted, 8);
    assigned = source;
    EXPECT_EQ(assigned.elements, source.elements);
    const auto& self = assigned;
    assigned = self;
    EXPECT_EQ(assigned.elements, source.elements);

    ElementInsertionInfo moved{std::move(source)};
    EXPECT_TRUE(source.elements.empty());  // NOLINT(bugprone-use-after-move)
    source.add(Status::inserted, 4);
    EXPECT_EQ(list_of(source, Status::inserted), (std::vector<index_t>{4}));
    EXPECT_EQ(list_of(moved, Status::inserted), (std::vector<index_t>{1}));

    assigned = std::move(moved);
    EXPECT_TRUE(moved.elements.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(list_of(assigned, Status::degenerated), (std::vector<index_t>{3}));
}

}  // namespace
}  // namespace internal
}  // namespace orvex
