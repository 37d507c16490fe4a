#pragma once

#include "orvex/background_common/export.h"

/// Test-only control of the batch functions' vector lanes (internal_distance_batches.cpp). Not
/// installed and not part of the library's interface: the tests and the fuzzer compare every
/// path of the batch functions with the functions on one element, whatever the processor
/// running them would pick.
namespace orvex::internal::detail {

/// The widest lanes the batch functions may use.
enum struct BatchLanes {
    /// Eight (AVX-512) or four (AVX2 and FMA) lanes, as the processor allows: the default.
    widest,
    /// At most four lanes (AVX2 and FMA), where the processor has them.
    four,
    /// None: every element by the functions on one element.
    one
};

/// Sets the limit for the calls that start afterwards, in every thread.
ORVEX_BACKGROUND_COMMON_EXPORT void limit_batch_lanes(BatchLanes limit);

}  // namespace orvex::internal::detail
