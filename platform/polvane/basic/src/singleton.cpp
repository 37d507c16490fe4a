#include "polvane/basic/singleton.h"

#include <typeindex>
#include <unordered_map>

#include "polvane/basic/polvane_exception.h"

namespace orvex {
namespace {

struct Registry {
    std::mutex user_mutex;
    // Guards `objects` on its own, so that a look-up from a thread that does not hold
    // `user_mutex` is still safe.
    std::mutex map_mutex;
    std::unordered_map<std::type_index, std::unique_ptr<Singleton>> objects;
};

Registry& registry() {
    // Never destroyed: registered objects live until the process ends, and nothing may run
    // their destructors while other static destructors still use them.
    static Registry* const instance = new Registry;  // NOLINT(cppcoreguidelines-owning-memory)
    return *instance;
}

}  // namespace

Singleton::~Singleton() = default;

std::mutex& Singleton::lock() {
    return registry().user_mutex;
}

Singleton* Singleton::instance(const std::type_info& type) {
    auto& reg = registry();
    const std::lock_guard<std::mutex> guard{reg.map_mutex};
    const auto found = reg.objects.find(std::type_index{type});
    return found == reg.objects.end() ? nullptr : found->second.get();
}

void Singleton::set_instance(const std::type_info& type, std::unique_ptr<Singleton> object) {
    if (!object) {
        throw PolvaneException{"[Singleton::set_instance] Cannot register a null object for ",
                               type.name()};
    }
    auto& reg = registry();
    const std::lock_guard<std::mutex> guard{reg.map_mutex};
    const auto inserted = reg.objects.emplace(std::type_index{type}, std::move(object));
    if (!inserted.second) {
        throw PolvaneException{"[Singleton::set_instance] An object is already registered for ",
                               type.name()};
    }
}

}  // namespace orvex
