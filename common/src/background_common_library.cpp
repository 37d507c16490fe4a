#include "orvex/background_common/background_common_library.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "detail/initialization_probe.h"
#include "polvane/mesh/polvane_mesh_library.h"

namespace orvex {
namespace detail {
namespace {

std::atomic<InitializationProbe> initialization_probe{nullptr};

}  // namespace

void set_initialization_probe(InitializationProbe probe) {
    initialization_probe.store(probe, std::memory_order_release);
}

}  // namespace detail

BackgroundCommonLibrary::BackgroundCommonLibrary() = default;

BackgroundCommonLibrary::~BackgroundCommonLibrary() = default;

void BackgroundCommonLibrary::initialize() {
    BackgroundCommonLibrary* library = nullptr;
    {
        // Finding and creating under the registry's lock makes concurrent first calls agree
        // on one instance.
        const std::lock_guard<std::mutex> lock{Singleton::lock()};
        library = dynamic_cast<BackgroundCommonLibrary*>(
            Singleton::instance(typeid(BackgroundCommonLibrary)));
        if (library == nullptr) {
            auto created = std::make_unique<BackgroundCommonLibrary>();
            library = created.get();
            Singleton::set_instance(typeid(BackgroundCommonLibrary), std::move(created));
        }
    }
    // Outside the registry's lock: the base mesh library takes it to register itself.
    library->call_initialize("BackgroundCommon");
}

void BackgroundCommonLibrary::do_initialize() {
    // A test hook (detail/initialization_probe.h); none outside that test.
    if (const auto probe = detail::initialization_probe.load(std::memory_order_acquire)) {
        probe();
    }
    PolvaneMeshLibrary::initialize();
}

}  // namespace orvex
