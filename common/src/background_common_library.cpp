#include "orvex/background_common/background_common_library.h"

#include <memory>
#include <mutex>

#include "polvane/mesh/polvane_mesh_library.h"

namespace orvex {

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
    PolvaneMeshLibrary::initialize();
}

}  // namespace orvex
