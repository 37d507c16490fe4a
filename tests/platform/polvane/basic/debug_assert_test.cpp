#include <gtest/gtest.h>

#include <vector>

#include "polvane/basic/assert.h"
#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/variable_attribute.h"

// Debug builds check the index preconditions that release builds leave to the caller; the
// checks abort with a message naming the operation and the offending index.
#ifndef NDEBUG

namespace orvex {
namespace {

TEST(DebugAssertDeathTest, AbortsWithTheConditionAndTheMessagePieces) {
    const int index = 7;
    EXPECT_DEATH(POLVANE_DEBUG_ASSERT(index < 3, "[Operation] Index ", index, " of ", 3),
                 "Debug assertion failed: index < 3 \\(.*debug_assert_test.cpp:[0-9]+\\): "
                 "\\[Operation\\] Index 7 of 3");
    POLVANE_DEBUG_ASSERT(index > 3, "never printed");
}

TEST(DebugAssertDeathTest, AttributeAccessOutsideTheElements) {
    AttributeManager manager;
    manager.resize(3);
    auto numbers = manager.find_or_create_attribute<VariableAttribute, int>("n", 0, {});
    auto lists =
        manager.find_or_create_attribute<VariableAttribute, std::vector<int>>("l", {}, {true});
    EXPECT_DEATH(static_cast<void>(numbers->value(3)),
                 "\\[VariableAttribute::value\\] Element 3 is not below the number of values "
                 "\\(3\\)");
    EXPECT_DEATH(numbers->set_value(4, 1), "\\[VariableAttribute::set_value\\] Element 4");
    EXPECT_DEATH(lists->modify_value(NO_ID, [](std::vector<int>& list) { list.push_back(1); }),
                 "\\[VariableAttribute::modify_value\\] Element 4294967295");
    EXPECT_DEATH(manager.copy_attribute_value(0, 3), "\\[VariableAttribute::copy_value\\]");
    // Values of elements removed by the manager are out of reach too.
    manager.delete_elements({true, true, true});
    EXPECT_DEATH(static_cast<void>(lists->value(0)), "number of values \\(0\\)");
}

}  // namespace
}  // namespace orvex

#endif
