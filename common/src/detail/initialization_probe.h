#pragma once

#include "orvex/background_common/export.h"

/// Test-only access to the library's one-time initialisation step. Not installed and not part
/// of the library's interface: the only caller is the test program that races the first calls
/// of `BackgroundCommonLibrary::initialize()` in a fresh process, which needs to count the runs
/// of the step and to hold the step open while the other threads arrive.
namespace orvex::detail {

/// A function that the one-time step (`BackgroundCommonLibrary::do_initialize`) calls first,
/// each time it runs, before it initialises the base mesh library; none by default. Set it
/// before the first `initialize()` of the process.
using InitializationProbe = void (*)();

ORVEX_BACKGROUND_COMMON_EXPORT void set_initialization_probe(InitializationProbe probe);

}  // namespace orvex::detail
