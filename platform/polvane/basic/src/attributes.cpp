#include "polvane/basic/attribute_base.h"

namespace orvex {

// Defined out of line so that the vtable and type information of the base class live in this
// library only.
AttributeBase::~AttributeBase() = default;

}  // namespace orvex
