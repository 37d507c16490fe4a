#pragma once

#include <absl/strings/string_view.h>
#include <absl/synchronization/mutex.h>
#include <absl/types/span.h>

#include <memory>
#include <string>
#include <vector>

#include "polvane/basic/attribute_base.h"
#include "polvane/basic/detail/annotated_lock.h"
#include "polvane/basic/export.h"
#include "polvane/basic/index.h"
#include "polvane/basic/mapping.h"
#include "polvane/basic/polvane_exception.h"

namespace orvex {

/// Holds the named attributes of one kind of mesh element (vertices, edges, polygons...) and
/// keeps every one of them sized and ordered like the elements.
///
/// A mesh calls `resize`, `delete_elements`, `permute_elements`... when its elements change,
/// and every attribute follows. Attributes are shared: whoever holds a reference keeps the
/// attribute alive, but only the attributes still registered here follow the elements.
///
/// Thread safety: none of the operations takes a lock, except `find_or_create_attribute`, which
/// takes `mutex()` (as a reader, then as a writer if it must create). A caller that registers or
/// deletes attributes while other threads find or create them must hold `mutex()` as a writer.
/// Changes of the elements (resize, delete, permute...) must be serialised by the caller.
///
/// Errors: every operation checks the sizes and indices of the lists it is given, in every
/// build, and throws `PolvaneException` before changing anything; an operation that throws
/// leaves the manager as it was (extraction never changes it at all). Single element indices
/// (`copy_attribute_value`, the target of `interpolate_attribute_value`) are preconditions,
/// checked in debug builds only.
///
/// Ownership: an attribute belongs to at most one manager at a time, under one name (see
/// `AttributeBase`). The manager frees its attributes for another when it deletes them, clears
/// or is destroyed; attributes moved to another manager stay held, by that manager.
class POLVANE_BASIC_EXPORT AttributeManager {
public:
    AttributeManager();
    ~AttributeManager();

    AttributeManager(const AttributeManager&) = delete;
    AttributeManager& operator=(const AttributeManager&) = delete;

    /// Takes over the other manager's attributes and elements; the other is left empty.
    AttributeManager(AttributeManager&& other) noexcept;
    AttributeManager& operator=(AttributeManager&& other) noexcept;

    [[nodiscard]] index_t nb_elements() const;

    /// The attribute registered under `name`, or an empty pointer.
    [[nodiscard]] std::shared_ptr<AttributeBase> find_attribute_base(absl::string_view name) const;

    [[nodiscard]] bool attribute_exists(absl::string_view name) const;

    /// The names of the registered attributes, sorted.
    [[nodiscard]] std::vector<std::string> attribute_names() const;

    /// Registers `attribute` under `name` and resizes it to `nb_elements()`.
    /// \throw PolvaneException when `attribute` is null, `name` is taken, or `attribute` is
    /// already registered in a manager (this one under another name included): "[AttributeManager
    /// ::register_attribute] The attribute given for <name> is already registered in an attribute
    /// manager; delete it there first."
    void register_attribute(std::shared_ptr<AttributeBase> attribute, absl::string_view name);

    /// Forgets the attribute registered under `name`; an absent name is not an error. Holders
    /// of the attribute keep it, but it no longer follows the elements, and it may be registered
    /// again (here or in another manager).
    void delete_attribute(absl::string_view name);

    /// The lock that `find_or_create_attribute` takes.
    [[nodiscard]] absl::Mutex& mutex() const;

    /// The attribute `name` of type `Attribute<T>`, created with `default_value` and
    /// `properties` if there is none.
    /// \throw PolvaneException "[AttributeManager::find_or_create_attribute] Do not instantiate
    /// an attribute if an instantiated attribute of the same name with different storage
    /// already exists." when `name` is held by an attribute of another type (nothing is
    /// registered then).
    template <template <typename> class Attribute, typename T>
    std::shared_ptr<Attribute<T>> find_or_create_attribute(absl::string_view name, T default_value,
                                                           AttributeProperties properties);

    /// Sets the number of elements; new elements take each attribute's default value.
    void resize(index_t nb_elements);

    /// Reserves room for `capacity` elements in every attribute.
    void reserve(index_t capacity);

    /// Removes the elements whose flag is true from every attribute, keeping the others in
    /// order, and returns the old-to-new index list (`NO_ID` for removed elements).
    /// \throw PolvaneException when `to_delete` has not one flag per element.
    std::vector<index_t> delete_elements(const std::vector<bool>& to_delete);

    /// Reorders every attribute: afterwards the value at position k is the one that was at
    /// `permutation[k]`.
    /// \throw PolvaneException when `permutation` is not a permutation of the elements.
    void permute_elements(absl::Span<const index_t> permutation);

    /// Removes every attribute and every element.
    void clear();

    /// Makes this manager a copy of `from`: its number of elements, and for each of its
    /// attributes, the values (copied into an attribute of the same name here if there is one,
    /// else a new clone is registered). Attributes only held here are resized.
    /// \throw std::bad_cast when an attribute of the same name holds another value type; no
    /// attribute is changed then.
    void copy(const AttributeManager& from);

    /// For every transferable attribute of `from`, copies the values of its old indices to
    /// the new indices of `mapping` here, creating an attribute of the same name and type
    /// (with default values) where there is none.
    /// \throw PolvaneException when an old index is not below `from.nb_elements()` or a new
    /// index not below `nb_elements()`; std::bad_cast when a name is held by another value type.
    /// Nothing is changed when it throws.
    void import(const AttributeManager& from, const OldToNewMapping& mapping);

    /// As above with an old-to-new index list over the elements of `from`.
    void import(const AttributeManager& from, absl::Span<const index_t> old2new);

    /// A new manager of `nb_elements` elements holding every transferable attribute, where each
    /// new index of `mapping` holds a copy of its old index's value.
    /// \throw PolvaneException when an old index is not an element here, or with the message
    /// "[VariableAttribute::extract] The given mapping contains values (<index>) that go beyond
    /// the given number of elements (<nb_elements>)."; this manager is never changed.
    [[nodiscard]] AttributeManager extract(const OldToNewMapping& mapping,
                                           index_t nb_elements) const;

    /// As above with an old-to-new index list, one entry per element here.
    [[nodiscard]] AttributeManager extract(absl::Span<const index_t> old2new,
                                           index_t nb_elements) const;

    /// Element `to` of every assignable attribute gets a copy of the value of element `from`.
    /// \pre `from` and `to` are below `nb_elements()` (single indices, like attribute values,
    /// are checked in debug builds only).
    void copy_attribute_value(index_t from, index_t to);

    /// Sets element `to` of every attribute from a weighted sum of other elements (numeric,
    /// interpolable attributes) or to its default value (all others).
    /// \throw PolvaneException when the interpolation has not one weight per index, or one of
    /// its indices is not below `nb_elements()`. \pre `to` is below `nb_elements()` (checked in
    /// debug builds only, like `copy_attribute_value`).
    void interpolate_attribute_value(const AttributeLinearInterpolation& interpolation, index_t to);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

template <template <typename> class Attribute, typename T>
std::shared_ptr<Attribute<T>> AttributeManager::find_or_create_attribute(
    absl::string_view name, T default_value, AttributeProperties properties) {
    absl::Mutex& lock = mutex();
    {
        const detail::ReaderLock reader{&lock};
        if (auto found = std::dynamic_pointer_cast<Attribute<T>>(find_attribute_base(name))) {
            return found;
        }
    }
    const detail::WriterLock writer{&lock};
    auto existing = find_attribute_base(name);
    if (auto found = std::dynamic_pointer_cast<Attribute<T>>(existing)) {
        return found;
    }
    // The manager holds its own reference to every registered attribute, so a name held by an
    // attribute of another type always counts two references here.
    if (existing && existing.use_count() >= 2) {
        throw PolvaneException{
            "[AttributeManager::find_or_create_attribute] Do not instantiate an attribute if an "
            "instantiated attribute of the same name with different storage already exists."};
    }
    auto created = std::make_shared<Attribute<T>>(std::move(default_value), properties);
    register_attribute(created, name);
    return created;
}

}  // namespace orvex
