#pragma once

#include <absl/container/inlined_vector.h>
#include <absl/strings/string_view.h>
#include <absl/types/span.h>

#include <atomic>
#include <memory>
#include <vector>

#include "polvane/basic/attribute_properties.h"
#include "polvane/basic/export.h"
#include "polvane/basic/index.h"
#include "polvane/basic/mapping.h"
#include "polvane/basic/pass_key.h"

namespace orvex {

class AttributeManager;

/// A description of one element's value as a weighted sum of other elements' values.
struct AttributeLinearInterpolation {
    absl::InlinedVector<index_t, 4> indices;
    absl::InlinedVector<double, 4> lambdas;
};

/// The type-erased face of an attribute: one value per element of an `AttributeManager`.
///
/// The manager drives every attribute it holds through the changes of its elements (resize,
/// deletion, permutation, copy, extraction, import); those operations take a
/// `PassKey<AttributeManager>` so that nobody else can put an attribute out of step with its
/// manager. `VariableAttribute<T>` implements them for any value type.
///
/// Conventions shared by every operation below:
/// - an old-to-new index list has one entry per old element, `NO_ID` for "not kept";
/// - lists of more than 4294967295 entries are refused with "[Range] Invalid range: ...";
/// - indices are not checked unless stated: the manager checks them before calling.
///
/// An attribute belongs to at most one manager at a time, under one name: the manager sizes and
/// reorders it with its own elements, so a second manager (or a second name) would put it out of
/// step with the first. `AttributeManager::register_attribute` refuses an attribute that a
/// manager already holds; `delete_attribute`, `clear` and the manager's destruction free it.
class POLVANE_BASIC_EXPORT AttributeBase {
public:
    AttributeBase(const AttributeBase&) = delete;
    AttributeBase& operator=(const AttributeBase&) = delete;

    virtual ~AttributeBase();

    /// The element's value as a number: the value itself for arithmetic types, 0 otherwise.
    [[nodiscard]] virtual double generic_value(index_t element) const = 0;

    /// The value of one item of the element's value as a number; for arithmetic types the
    /// value itself whatever the item, 0 for other types.
    [[nodiscard]] virtual double generic_item_value(index_t element, local_index_t item) const = 0;

    /// Whether `generic_value` gives the element's value (arithmetic value types).
    [[nodiscard]] virtual bool is_numeric() const = 0;

    /// Whether values can be set element by element (true for every `VariableAttribute`).
    [[nodiscard]] virtual bool is_variable() const = 0;

    /// The value type's name as run-time type information gives it.
    [[nodiscard]] virtual absl::string_view type() const = 0;

    /// A new attribute with the same properties, default value and values.
    [[nodiscard]] virtual std::shared_ptr<AttributeBase> clone(PassKey<AttributeManager>) const = 0;

    /// Takes the other attribute's default value (unless it is this one) and, when
    /// `nb_elements` > 0, resizes to `nb_elements` and copies its first `nb_elements` values.
    /// \throw std::bad_cast when `from` holds another value type.
    virtual void copy(const AttributeBase& from, index_t nb_elements,
                      PassKey<AttributeManager>) = 0;

    /// A new attribute of `nb_elements` default values where each new index of `mapping`
    /// holds a copy of its old index's value.
    /// \throw PolvaneException "[VariableAttribute::extract] The given mapping contains values
    /// (<index>) that go beyond the given number of elements (<nb_elements>)." at the first new
    /// index that is `nb_elements` or more.
    [[nodiscard]] virtual std::shared_ptr<AttributeBase> extract(
        const OldToNewMapping& mapping, index_t nb_elements, PassKey<AttributeManager>) const = 0;

    /// As above with an old-to-new index list (`NO_ID` entries skipped).
    [[nodiscard]] virtual std::shared_ptr<AttributeBase> extract(
        absl::Span<const index_t> old2new, index_t nb_elements,
        PassKey<AttributeManager>) const = 0;

    /// Each new index of `mapping` gets a copy of `from`'s value of its old index.
    /// \throw std::bad_cast when `from` holds another value type.
    virtual void import(const OldToNewMapping& mapping, const AttributeBase& from,
                        PassKey<AttributeManager>) = 0;

    /// As above with an old-to-new index list (`NO_ID` entries skipped).
    virtual void import(absl::Span<const index_t> old2new, const AttributeBase& from,
                        PassKey<AttributeManager>) = 0;

    /// Resizes to `size` elements; new elements hold the default value. Grows the storage
    /// geometrically (at least twice the current capacity) when it must grow.
    virtual void resize(index_t size, PassKey<AttributeManager>) = 0;

    virtual void reserve(index_t capacity, PassKey<AttributeManager>) = 0;

    /// Removes the elements whose flag is true, keeping the others in order; returns how many
    /// were removed. \pre `to_delete.size()` is the number of elements.
    virtual index_t delete_elements(const std::vector<bool>& to_delete,
                                    PassKey<AttributeManager>) = 0;

    /// Afterwards the value at position k is the one that was at `permutation[k]`.
    /// \pre `permutation` is a permutation of [0, number of elements).
    virtual void permute_elements(absl::Span<const index_t> permutation,
                                  PassKey<AttributeManager>) = 0;

    /// Sets element `to` from a description of other elements: the weighted sum for
    /// interpolable numeric attributes, the default value otherwise.
    virtual void compute_value(const AttributeLinearInterpolation& interpolation, index_t to,
                               PassKey<AttributeManager>) = 0;

    /// Element `to` gets a copy of the value of element `from`.
    virtual void copy_value(index_t from, index_t to, PassKey<AttributeManager>) = 0;

    [[nodiscard]] const AttributeProperties& properties() const { return properties_; }

    void set_properties(const AttributeProperties& properties) { properties_ = properties; }

    /// Whether an attribute manager holds this attribute.
    [[nodiscard]] bool is_registered() const { return registered_.load(std::memory_order_acquire); }

    /// Marks the attribute as held by a manager; false (and nothing changes) when a manager
    /// already holds it. Atomic, so that two managers racing for one attribute cannot both win.
    [[nodiscard]] bool claim(PassKey<AttributeManager>) {
        return !registered_.exchange(true, std::memory_order_acq_rel);
    }

    /// Marks the attribute as held by no manager.
    void release(PassKey<AttributeManager>) { registered_.store(false, std::memory_order_release); }

protected:
    explicit AttributeBase(AttributeProperties properties) : properties_(properties) {}

private:
    AttributeProperties properties_;
    std::atomic<bool> registered_{false};
};

}  // namespace orvex
