#pragma once

#include <memory>
#include <mutex>
#include <typeinfo>

#include "polvane/basic/export.h"

namespace orvex {

/// Base of the process-wide objects kept in the registry (one object per type).
///
/// The registry keeps every object registered with `set_instance` for the life of the process;
/// nothing is ever removed. Typical find-or-create, atomic under the registry's lock:
/// \code
///     const std::lock_guard<std::mutex> lock{Singleton::lock()};
///     auto* object = dynamic_cast<MyLibrary*>(Singleton::instance(typeid(MyLibrary)));
///     if (object == nullptr) {
///         auto created = std::make_unique<MyLibrary>();
///         object = created.get();
///         Singleton::set_instance(typeid(MyLibrary), std::move(created));
///     }
/// \endcode
class POLVANE_BASIC_EXPORT Singleton {
public:
    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

    virtual ~Singleton();

    /// The process-wide mutex that callers hold while they find or create a registered object.
    /// `instance` and `set_instance` do not take it themselves (they are safe without it, but
    /// only holding it makes a find-then-create sequence atomic).
    [[nodiscard]] static std::mutex& lock();

    /// The object registered under `type`, or null.
    [[nodiscard]] static Singleton* instance(const std::type_info& type);

    /// Registers `object` under `type` and keeps it until the process ends.
    /// \throw PolvaneException when `object` is null or an object is already registered under
    /// `type` (the registry never replaces an object that others may point to).
    static void set_instance(const std::type_info& type, std::unique_ptr<Singleton> object);

protected:
    Singleton() = default;
};

}  // namespace orvex
