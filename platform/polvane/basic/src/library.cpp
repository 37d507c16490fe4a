#include "polvane/basic/library.h"

#include <atomic>
#include <mutex>

namespace orvex {

class Library::Impl {
public:
    // std::call_once lets every thread but one wait while the first initialisation runs, and
    // lets a later call try again when it threw.
    std::once_flag once;
    std::atomic<bool> initialized{false};
    std::string name;
};

Library::Library() : impl_{std::make_unique<Impl>()} {}

Library::~Library() = default;

void Library::call_initialize(absl::string_view name) {
    std::call_once(impl_->once, [this, name] {
        do_initialize();
        impl_->name = std::string{name};
        impl_->initialized.store(true, std::memory_order_release);
    });
}

bool Library::is_initialized() const {
    return impl_->initialized.load(std::memory_order_acquire);
}

const std::string& Library::name() const {
    return impl_->name;
}

}  // namespace orvex
