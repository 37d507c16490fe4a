#pragma once

// Replaces the global operator new and delete with versions that count every allocation.
// Include it in exactly one source file of a test program (they are definitions), and give that
// program its own executable: the replacement counts for every test linked into it.

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace orvex::test {

/// The number of calls of operator new so far.
inline std::atomic<std::size_t> allocation_count{0};

/// How many more calls of operator new succeed: the one after them throws `std::bad_alloc`
/// (and the count goes back to "no limit"). For tests of what a failing allocation leaves.
inline std::atomic<std::size_t> allocations_before_failure{static_cast<std::size_t>(-1)};

}  // namespace orvex::test

// None of them inlined: GCC would pair the malloc() or free() of an inlined one with the new
// or delete expression at the call and warn of a mismatch, though both sides are ours.
// The raw malloc() and free() are what a replacement operator new is made of.
// NOLINTBEGIN(cppcoreguidelines-owning-memory)
__attribute__((noinline)) void* operator new(std::size_t size) {
    ++orvex::test::allocation_count;
    if (orvex::test::allocations_before_failure.load() != static_cast<std::size_t>(-1)
        && orvex::test::allocations_before_failure-- == 0) {
        orvex::test::allocations_before_failure = static_cast<std::size_t>(-1);
        throw std::bad_alloc{};
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc{};
}

__attribute__((noinline)) void operator delete(void* memory) noexcept {
    std::free(memory);
}

__attribute__((noinline)) void operator delete(void* memory, std::size_t /*size*/) noexcept {
    std::free(memory);
}

// NOLINTEND(cppcoreguidelines-owning-memory)
