// A program of its own: the first `BackgroundCommonLibrary::initialize()` of the process must be
// made here, which no other test program can guarantee (their registration tests run after
// some earlier test has already initialised the library).

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "detail/initialization_probe.h"
#include "orvex/background_common/background_common_library.h"
#include "polvane/basic/singleton.h"
#include "polvane/mesh/polvane_mesh_library.h"

namespace orvex {
namespace {

std::atomic<int> step_runs{0};
std::atomic<bool> step_held_open{false};

// Counts the runs of the one-time step and holds it open long enough for every other thread
// to arrive while it runs.
void probe() {
    ++step_runs;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    step_held_open.store(true);
}

template <typename T>
T* registered() {
    return dynamic_cast<T*>(Singleton::instance(typeid(T)));
}

TEST(BackgroundCommonLibraryConcurrentFirstCalls, RunTheOneTimeStepOnceBeforeAnyCallerReturns) {
    ASSERT_EQ(registered<BackgroundCommonLibrary>(), nullptr)
        << "this test must make the first call of its process";
    detail::set_initialization_probe(&probe);

    constexpr std::size_t kThreads = 8;
    std::atomic<std::size_t> ready{0};
    std::atomic<bool> go{false};
    // What each caller saw right after its own call returned.
    std::array<bool, kThreads> saw_step_done{};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (!go.load()) {
                std::this_thread::yield();
            }
            BackgroundCommonLibrary::initialize();
            const auto* library = registered<BackgroundCommonLibrary>();
            const auto* mesh_library = registered<PolvaneMeshLibrary>();
            saw_step_done[t] = step_held_open.load() && library != nullptr
                               && library->is_initialized() && mesh_library != nullptr
                               && mesh_library->is_initialized();
        });
    }
    while (ready.load() < kThreads) {
        std::this_thread::yield();
    }
    go.store(true);
    for (auto& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(step_runs.load(), 1);
    for (std::size_t t = 0; t < kThreads; ++t) {
        EXPECT_TRUE(saw_step_done[t]) << "caller " << t << " returned before the step ended";
    }
    BackgroundCommonLibrary* const instance = registered<BackgroundCommonLibrary>();
    BackgroundCommonLibrary::initialize();
    EXPECT_EQ(step_runs.load(), 1);
    EXPECT_EQ(registered<BackgroundCommonLibrary>(), instance);
    EXPECT_EQ(instance->name(), "BackgroundCommon");
    detail::set_initialization_probe(nullptr);
}

}  // namespace
}  // namespace orvex
