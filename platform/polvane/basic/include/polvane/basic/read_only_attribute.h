#pragma once

#include "polvane/basic/attribute_base.h"
#include "polvane/basic/export.h"

namespace orvex {

/// An attribute whose values of type `T` can be read.
template <typename T>
class POLVANE_BASIC_EXPORT ReadOnlyAttribute : public AttributeBase {
public:
    using value_type = T;

    /// The value of `element`, by reference into the storage. Not bounds-checked:
    /// \pre `element` is below the manager's number of elements.
    [[nodiscard]] virtual const T& value(index_t element) const = 0;

protected:
    explicit ReadOnlyAttribute(AttributeProperties properties) : AttributeBase(properties) {}
};

}  // namespace orvex
