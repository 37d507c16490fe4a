#include "polvane/mesh/polvane_mesh_library.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "polvane/basic/singleton.h"

namespace orvex {
namespace {

TEST(PolvaneMeshLibrary, RegistersOneInitialisedInstanceFromManyThreads) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([] { PolvaneMeshLibrary::initialize(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    auto* library =
        dynamic_cast<PolvaneMeshLibrary*>(Singleton::instance(typeid(PolvaneMeshLibrary)));
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(library->is_initialized());
    PolvaneMeshLibrary::initialize();
    EXPECT_EQ(Singleton::instance(typeid(PolvaneMeshLibrary)), library);
}

}  // namespace
}  // namespace orvex
