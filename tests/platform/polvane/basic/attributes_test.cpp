#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <typeinfo>
#include <vector>

#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/variable_attribute.h"

namespace orvex {
namespace {

using List = std::vector<int>;
using ListAttribute = VariableAttribute<List>;

std::vector<List> lists_of(const ListAttribute& attribute, index_t nb) {
    std::vector<List> result;
    for (index_t i = 0; i < nb; ++i) {
        result.push_back(attribute.value(i));
    }
    return result;
}

// A manager of `lists.size()` elements holding one list attribute named "lists".
std::shared_ptr<ListAttribute> make_lists(AttributeManager& manager,
                                          const std::vector<List>& lists) {
    manager.resize(static_cast<index_t>(lists.size()));
    auto attribute = manager.find_or_create_attribute<VariableAttribute, List>(
        "lists", {}, {false, false, true});
    for (index_t i = 0; i < lists.size(); ++i) {
        attribute->set_value(i, lists[i]);
    }
    return attribute;
}

TEST(ListAttribute, ANewAttributeIsEmptyWithRoomForTen) {
    const ListAttribute attribute{List{}, {}};
    EXPECT_EQ(attribute.size(), 0u);
    EXPECT_GE(attribute.capacity(), 10u);
}

TEST(ListAttribute, NewElementsGetTheDefaultAndCapacityAtLeastDoubles) {
    AttributeManager manager;
    auto attribute = make_lists(manager, {{1}, {2, 3}});
    const auto capacity = attribute->capacity();
    manager.resize(static_cast<index_t>(capacity + 1));
    EXPECT_GE(attribute->capacity(), 2 * capacity);
    EXPECT_EQ(attribute->value(0), (List{1}));
    EXPECT_EQ(attribute->value(1), (List{2, 3}));
    for (index_t i = 2; i < manager.nb_elements(); ++i) {
        EXPECT_TRUE(attribute->value(i).empty());
    }
    manager.resize(1);
    EXPECT_EQ(attribute->size(), 1u);
    EXPECT_EQ(attribute->value(0), (List{1}));
}

TEST(ListAttribute, DeletionKeepsTheOthersInOrder) {
    AttributeManager manager;
    auto attribute = make_lists(manager, {{0}, {1}, {2}, {3}, {4}});
    const auto old2new = manager.delete_elements({false, true, false, true, false});
    EXPECT_EQ(old2new, (std::vector<index_t>{0, NO_ID, 1, NO_ID, 2}));
    EXPECT_EQ(manager.nb_elements(), 3u);
    EXPECT_EQ(lists_of(*attribute, 3), (std::vector<List>{{0}, {2}, {4}}));

    const auto unchanged = manager.delete_elements({false, false, false});
    EXPECT_EQ(unchanged, (std::vector<index_t>{0, 1, 2}));
    EXPECT_EQ(lists_of(*attribute, 3), (std::vector<List>{{0}, {2}, {4}}));

    manager.delete_elements({true, true, true});
    EXPECT_EQ(attribute->size(), 0u);
}

TEST(ListAttribute, PermutationPlacesOldListsAtTheirNewPositions) {
    AttributeManager manager;
    auto attribute = make_lists(manager, {{0}, {1, 1}, {2, 2, 2}});
    const std::vector<index_t> permutation{2, 0, 1};
    manager.permute_elements(permutation);
    EXPECT_EQ(lists_of(*attribute, 3), (std::vector<List>{{2, 2, 2}, {0}, {1, 1}}));

    // Several cycles, fixed points included.
    AttributeManager other;
    auto values = make_lists(other, {{0}, {1}, {2}, {3}, {4}, {5}});
    other.permute_elements(std::vector<index_t>{1, 0, 2, 5, 3, 4});
    EXPECT_EQ(lists_of(*values, 6), (std::vector<List>{{1}, {0}, {2}, {5}, {3}, {4}}));
}

TEST(ListAttribute, RefusesListsThatAreNotPermutationsOrFlagsOfTheWrongLength) {
    AttributeManager manager;
    auto attribute = make_lists(manager, {{0}, {1}, {2}});
    EXPECT_THROW(manager.permute_elements(std::vector<index_t>{0, 0, 1}), PolvaneException);
    EXPECT_THROW(manager.permute_elements(std::vector<index_t>{0, 1, 3}), PolvaneException);
    EXPECT_THROW(manager.permute_elements(std::vector<index_t>{0, 1}), PolvaneException);
    EXPECT_THROW(manager.delete_elements({true, false}), PolvaneException);
    EXPECT_EQ(lists_of(*attribute, 3), (std::vector<List>{{0}, {1}, {2}}));
}

TEST(ListAttribute, ExtractBeyondTheNewCountThrowsTheExactMessage) {
    AttributeManager manager;
    make_lists(manager, {{0}, {1}, {2}});
    try {
        static_cast<void>(manager.extract(std::vector<index_t>{0, NO_ID, 2}, 2));
        FAIL() << "no exception";
    } catch (const PolvaneException& error) {
        EXPECT_STREQ(error.what(),
                     "[VariableAttribute::extract] The given mapping contains values (2) that go "
                     "beyond the given number of elements (2).");
    }
    OldToNewMapping mapping;
    mapping.map(0, 0);
    mapping.map(1, 5);
    try {
        static_cast<void>(manager.extract(mapping, 5));
        FAIL() << "no exception";
    } catch (const PolvaneException& error) {
        EXPECT_STREQ(error.what(),
                     "[VariableAttribute::extract] The given mapping contains values (5) that go "
                     "beyond the given number of elements (5).");
    }
}

TEST(ListAttribute, ExtractAndImportCopyListsToTheirNewIndices) {
    AttributeManager manager;
    make_lists(manager, {{0}, {1}, {2}});
    OldToNewMapping mapping;
    mapping.map(2, 0);
    mapping.map(2, 3);
    mapping.map(0, 1);
    const AttributeManager extracted = manager.extract(mapping, 4);
    auto lists = std::dynamic_pointer_cast<ListAttribute>(extracted.find_attribute_base("lists"));
    ASSERT_TRUE(lists);
    EXPECT_EQ(lists_of(*lists, 4), (std::vector<List>{{2}, {0}, {}, {2}}));

    AttributeManager target;
    auto target_lists = make_lists(target, {{9}, {9}});
    target.import(manager, std::vector<index_t>{NO_ID, 0, NO_ID});
    EXPECT_EQ(lists_of(*target_lists, 2), (std::vector<List>{{1}, {9}}));
}

TEST(ListAttribute, ValueTypeMismatchesRaiseBadCast) {
    AttributeManager manager;
    make_lists(manager, {{0}});
    AttributeManager other;
    other.resize(1);
    other.find_or_create_attribute<VariableAttribute, double>("lists", 0., {});
    EXPECT_THROW(other.copy(manager), std::bad_cast);
    EXPECT_THROW(other.import(manager, std::vector<index_t>{0}), std::bad_cast);
    EXPECT_EQ(other.attribute_names(), (std::vector<std::string>{"lists"}));
}

TEST(ListAttribute, GenericQueriesAndElementValues) {
    AttributeManager manager;
    auto attribute = make_lists(manager, {{4, 5}, {6}});
    EXPECT_EQ(attribute->generic_value(0), 0.);
    EXPECT_EQ(attribute->generic_item_value(0, 1), 0.);
    EXPECT_FALSE(attribute->is_numeric());
    EXPECT_TRUE(attribute->is_variable());
    EXPECT_EQ(attribute->type(), typeid(List).name());

    AttributeManager assignable;
    assignable.resize(2);
    auto copied =
        assignable.find_or_create_attribute<VariableAttribute, List>("a", {}, {true, false, true});
    copied->set_value(0, {1, 2});
    assignable.copy_attribute_value(0, 1);
    EXPECT_EQ(copied->value(1), (List{1, 2}));
    // A list is never interpolated: the element is reset to the default value.
    assignable.interpolate_attribute_value({{0}, {1.}}, 1);
    EXPECT_TRUE(copied->value(1).empty());
}

TEST(NumericAttribute, GenericValuesAndInterpolation) {
    AttributeManager manager;
    manager.resize(3);
    auto numbers =
        manager.find_or_create_attribute<VariableAttribute, double>("x", 1.5, {true, true, true});
    numbers->set_value(0, 2);
    numbers->set_value(1, 4);
    EXPECT_EQ(numbers->generic_value(0), 2.);
    EXPECT_EQ(numbers->generic_item_value(1, 0), 4.);
    EXPECT_TRUE(numbers->is_numeric());
    manager.interpolate_attribute_value({{0, 1}, {0.25, 0.75}}, 2);
    EXPECT_DOUBLE_EQ(numbers->value(2), 3.5);

    auto flags = manager.find_or_create_attribute<VariableAttribute, bool>("flag", true, {});
    EXPECT_TRUE(flags->value(2));
    flags->set_value(1, false);
    manager.permute_elements(std::vector<index_t>{1, 2, 0});
    EXPECT_FALSE(flags->value(0));
    EXPECT_TRUE(flags->value(1));
    EXPECT_EQ(numbers->value(0), 4.);
}

// Integer attributes: a weighted sum out of the type's range saturates, and NaN weights give
// the default value; converting either directly would be undefined behaviour (and aborts the
// sanitized build).
TEST(NumericAttribute, IntegerInterpolationSaturatesAndIgnoresNaN) {
    AttributeManager manager;
    manager.resize(3);
    auto counts =
        manager.find_or_create_attribute<VariableAttribute, int>("n", 7, {true, true, true});
    counts->set_value(0, 2000000000);
    counts->set_value(1, -3);
    manager.interpolate_attribute_value({{0, 1}, {0.5, 0.5}}, 2);
    EXPECT_EQ(counts->value(2), 999999998);
    manager.interpolate_attribute_value({{0}, {2.}}, 2);
    EXPECT_EQ(counts->value(2), std::numeric_limits<int>::max());
    manager.interpolate_attribute_value({{0}, {-2.}}, 2);
    EXPECT_EQ(counts->value(2), std::numeric_limits<int>::lowest());
    manager.interpolate_attribute_value({{0}, {std::numeric_limits<double>::quiet_NaN()}}, 2);
    EXPECT_EQ(counts->value(2), 7);

    auto sizes = manager.find_or_create_attribute<VariableAttribute, std::uint64_t>(
        "sizes", 0, {true, true, true});
    sizes->set_value(0, 10);
    manager.interpolate_attribute_value({{0}, {1e30}}, 2);
    EXPECT_EQ(sizes->value(2), std::numeric_limits<std::uint64_t>::max());
    manager.interpolate_attribute_value({{0}, {-1.}}, 2);
    EXPECT_EQ(sizes->value(2), 0U);
}

}  // namespace
}  // namespace orvex
