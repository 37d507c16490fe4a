#include "polvane/mesh/polvane_mesh_library.h"

#include <memory>
#include <mutex>

namespace orvex {

PolvaneMeshLibrary::PolvaneMeshLibrary() = default;

PolvaneMeshLibrary::~PolvaneMeshLibrary() = default;

void PolvaneMeshLibrary::initialize() {
    PolvaneMeshLibrary* library = nullptr;
    {
        const std::lock_guard<std::mutex> lock{Singleton::lock()};
        library =
            dynamic_cast<PolvaneMeshLibrary*>(Singleton::instance(typeid(PolvaneMeshLibrary)));
        if (library == nullptr) {
            auto created = std::make_unique<PolvaneMeshLibrary>();
            library = created.get();
            Singleton::set_instance(typeid(PolvaneMeshLibrary), std::move(created));
        }
    }
    library->call_initialize("PolvaneMesh");
}

void PolvaneMeshLibrary::do_initialize() {
    // The geometry, mesh and attribute modules keep no global tables: they work as soon as the
    // process starts. Initialising only marks the library as ready (`is_initialized`).
}

}  // namespace orvex
