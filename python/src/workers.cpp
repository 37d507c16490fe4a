#include "workers.h"

#include <pybind11/pybind11.h>
#include <sched.h>

#include <algorithm>
#include <string>

namespace orvex::python {

namespace py = pybind11;

std::size_t thread_count(int workers, std::size_t count, const char* function) {
    if (workers == 0 || workers < -1) {
        throw py::value_error(std::string{function} +
                              ": workers must be a positive number of threads, or -1 for every "
                              "available core; got " +
                              std::to_string(workers));
    }
    auto threads = static_cast<std::size_t>(workers);
    if (workers == -1) {
        cpu_set_t cores;
        CPU_ZERO(&cores);
        threads = sched_getaffinity(0, sizeof cores, &cores) == 0
                      ? static_cast<std::size_t>(CPU_COUNT(&cores))
                      : std::max(1u, std::thread::hardware_concurrency());
    }
    return std::max<std::size_t>(1, std::min(threads, count / items_per_thread));
}

}  // namespace orvex::python
