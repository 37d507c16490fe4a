#pragma once

#include "orvex/background_common/export.h"
#include "polvane/basic/library.h"

namespace orvex {

/// The library's registration object, named "BackgroundCommon".
///
/// Call `BackgroundCommonLibrary::initialize()` once before using anything of the library; it
/// registers the one instance in the process-wide registry and initialises the base mesh
/// library. Calling it again, from any thread, is harmless: the instance is created once and
/// initialised once.
class ORVEX_BACKGROUND_COMMON_EXPORT BackgroundCommonLibrary : public Library {
public:
    BackgroundCommonLibrary();
    ~BackgroundCommonLibrary() override;

    /// Finds or creates the registered instance, then initialises it (once per process).
    /// Exceptions from the base mesh library's initialisation reach the caller; the instance
    /// stays registered and a later call tries the initialisation again.
    static void initialize();

private:
    void do_initialize() override;
};

}  // namespace orvex
