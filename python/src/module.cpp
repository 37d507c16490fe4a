// The extension module `orvex._core`, which the package `orvex` re-exports: meshes from numpy
// arrays, their quality, and point location. It calls only the library's public headers.

#include <pybind11/pybind11.h>

#include "element_search.h"
#include "meshes.h"
#include "orvex/background_common/background_common_library.h"
#include "polvane/basic/index.h"
#include "quality.h"

PYBIND11_MODULE(_core, module) {
    module.doc() = "The compiled part of the orvex package; import orvex instead.";
    orvex::BackgroundCommonLibrary::initialize();
    module.attr("TOLERANCE") = orvex::GLOBAL_EPSILON;
    orvex::python::register_meshes(module);
    orvex::python::register_quality(module);
    orvex::python::register_element_search(module);
}
