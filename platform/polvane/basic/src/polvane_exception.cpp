#include "polvane/basic/polvane_exception.h"

namespace orvex {

// Defined out of line so that the vtable and type information live in this library only.
PolvaneException::~PolvaneException() = default;

}  // namespace orvex
