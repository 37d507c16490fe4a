#pragma once

#include "polvane/basic/library.h"
#include "polvane/mesh/export.h"

namespace orvex {

/// The base mesh library: geometry, meshes and attributes. `initialize()` finds or registers
/// its one object in the process-wide registry and initialises it once; later calls, from any
/// thread, do nothing.
class POLVANE_MESH_EXPORT PolvaneMeshLibrary : public Library {
public:
    PolvaneMeshLibrary();
    ~PolvaneMeshLibrary() override;

    static void initialize();

private:
    void do_initialize() override;
};

}  // namespace orvex
