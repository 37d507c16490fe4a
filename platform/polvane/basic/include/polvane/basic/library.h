#pragma once

#include <absl/strings/string_view.h>

#include <memory>
#include <string>

#include "polvane/basic/export.h"
#include "polvane/basic/singleton.h"

namespace orvex {

/// A library that must be initialised once per process before it is used.
///
/// A derived library overrides `do_initialize()`; `call_initialize` runs it exactly once per
/// library object, also when several threads make the first call at once: the others wait until
/// it has finished. If `do_initialize()` throws, the exception reaches the caller and the library
/// stays uninitialised, so a later call tries again.
class POLVANE_BASIC_EXPORT Library : public Singleton {
public:
    ~Library() override;

    /// Runs `do_initialize()` on the first call, records `name`, and does nothing afterwards.
    void call_initialize(absl::string_view name);

    [[nodiscard]] bool is_initialized() const;

    /// The name given to the call that initialised the library; empty before.
    [[nodiscard]] const std::string& name() const;

protected:
    Library();

private:
    virtual void do_initialize() = 0;

    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvex
