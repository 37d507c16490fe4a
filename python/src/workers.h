#pragma once

// The `workers` argument of the module's long calls (scipy's convention): how many threads
// share one call's work, each over one contiguous range. They run with the GIL released.

#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace orvex::python {

/// Items per thread at least: below that, starting a thread costs more than it saves.
inline constexpr std::size_t items_per_thread = 16384;

/// The threads for `workers` (-1: every core this process may run on), at most one per
/// `items_per_thread` of the `count` items and at least one.
/// \throw py::value_error "<function>: workers must be ..." when `workers` is 0 or below -1.
std::size_t thread_count(int workers, std::size_t count, const char* function);

/// Runs `run(part)` for every part 0 to `threads` - 1: part 0 on the calling thread, the others
/// on threads of their own (or on the calling thread too when no more threads can be started).
/// `run` must not throw.
template <typename Run>
void run_parts(std::size_t threads, const Run& run) {
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    try {
        for (std::size_t part = 1; part < threads; ++part) {
            helpers.emplace_back(run, part);
        }
    } catch (const std::system_error&) {
        for (std::size_t part = helpers.size() + 1; part < threads; ++part) {
            run(part);
        }
    }
    run(0);
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

/// The first item of part `part` of `threads` over `count` items (part `threads` gives `count`).
inline std::size_t part_begin(std::size_t count, std::size_t part, std::size_t threads) {
    return count * part / threads;
}

}  // namespace orvex::python
