#include "orvex/background_common/background_common_library.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "polvane/mesh/polvane_mesh_library.h"

namespace orvex {
namespace {

BackgroundCommonLibrary* registered() {
    return dynamic_cast<BackgroundCommonLibrary*>(
        Singleton::instance(typeid(BackgroundCommonLibrary)));
}

// The registry is process-wide, so these tests run in the order written: the first call is
// made after the base mesh library was initialised by the client itself.
TEST(BackgroundCommonLibrary, InitialisesAfterTheMeshLibraryWasInitialisedFirst) {
    PolvaneMeshLibrary::initialize();
    BackgroundCommonLibrary::initialize();
    ASSERT_NE(registered(), nullptr);
    EXPECT_TRUE(registered()->is_initialized());
    EXPECT_EQ(registered()->name(), "BackgroundCommon");
}

TEST(BackgroundCommonLibrary, RepeatedAndConcurrentCallsKeepOneInstance) {
    BackgroundCommonLibrary::initialize();
    BackgroundCommonLibrary* const first = registered();
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([] { BackgroundCommonLibrary::initialize(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    BackgroundCommonLibrary::initialize();
    EXPECT_EQ(registered(), first);
    auto* mesh_library =
        dynamic_cast<PolvaneMeshLibrary*>(Singleton::instance(typeid(PolvaneMeshLibrary)));
    ASSERT_NE(mesh_library, nullptr);
    EXPECT_TRUE(mesh_library->is_initialized());
}

}  // namespace
}  // namespace orvex
