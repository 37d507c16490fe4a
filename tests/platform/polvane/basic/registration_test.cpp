#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "polvane/basic/library.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/singleton.h"

namespace orvex {
namespace {

class CountingLibrary : public Library {
public:
    std::atomic<int> runs{0};
    bool fail_next{false};

private:
    void do_initialize() override {
        ++runs;
        // Widen the window in which other threads could run the hook a second time.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (fail_next) {
            fail_next = false;
            throw PolvaneException{"[CountingLibrary] failed"};
        }
    }
};

TEST(Library, RunsItsInitialisationOnceAcrossThreads) {
    CountingLibrary library;
    EXPECT_FALSE(library.is_initialized());
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&library] { library.call_initialize("Counting"); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    library.call_initialize("Again");
    EXPECT_EQ(library.runs.load(), 1);
    EXPECT_TRUE(library.is_initialized());
    EXPECT_EQ(library.name(), "Counting");
}

TEST(Library, AFailedInitialisationIsTriedAgain) {
    CountingLibrary library;
    library.fail_next = true;
    EXPECT_THROW(library.call_initialize("Counting"), PolvaneException);
    EXPECT_FALSE(library.is_initialized());
    library.call_initialize("Counting");
    EXPECT_TRUE(library.is_initialized());
    EXPECT_EQ(library.runs.load(), 2);
}

class RegisteredOnce : public Singleton {};

TEST(Singleton, KeepsOneObjectPerTypeAndRefusesASecond) {
    EXPECT_EQ(Singleton::instance(typeid(RegisteredOnce)), nullptr);
    auto object = std::make_unique<RegisteredOnce>();
    Singleton* const address = object.get();
    Singleton::set_instance(typeid(RegisteredOnce), std::move(object));
    EXPECT_EQ(Singleton::instance(typeid(RegisteredOnce)), address);
    EXPECT_THROW(
        Singleton::set_instance(typeid(RegisteredOnce), std::make_unique<RegisteredOnce>()),
        PolvaneException);
    EXPECT_THROW(Singleton::set_instance(typeid(int), nullptr), PolvaneException);
    EXPECT_EQ(Singleton::instance(typeid(RegisteredOnce)), address);
}

}  // namespace
}  // namespace orvex
