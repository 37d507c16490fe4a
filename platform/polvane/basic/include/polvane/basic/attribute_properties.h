#pragma once

namespace orvex {

/// The three flags that tell a mesh what it may do with an attribute's values besides keeping
/// them in step with its elements.
struct AttributeProperties {
    /// Values may be copied from one element to another (`copy_attribute_value`).
    bool assignable{false};
    /// Values may be computed as a weighted sum of other elements' values
    /// (`interpolate_attribute_value`); only numeric values are ever combined.
    bool interpolable{false};
    /// Values go with the elements when a mesh is copied, extracted or imported into another.
    bool transferable{true};

    friend bool operator==(const AttributeProperties& a, const AttributeProperties& b) {
        return a.assignable == b.assignable && a.interpolable == b.interpolable
               && a.transferable == b.transferable;
    }
};

}  // namespace orvex
