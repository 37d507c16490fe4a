#include "polvane/basic/attribute_manager.h"

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <typeinfo>
#include <utility>

namespace orvex {

using AttributeMap = absl::flat_hash_map<std::string, std::shared_ptr<AttributeBase>>;

class AttributeManager::Impl {
public:
    mutable absl::Mutex mutex;
    index_t nb_elements{0};
    AttributeMap attributes;
};

namespace detail {

// Frees every attribute of the map for another manager; the map itself is left to the caller.
void release_all(const AttributeMap& attributes, PassKey<AttributeManager> key) {
    for (const auto& entry : attributes) {
        entry.second->release(key);
    }
}

// Registers an attribute that the manager has just made (a clone, an extraction): it is new,
// so nobody else holds it.
void emplace_new(AttributeMap& attributes, std::string name,
                 std::shared_ptr<AttributeBase> attribute, PassKey<AttributeManager> key) {
    static_cast<void>(attribute->claim(key));
    attributes.emplace(std::move(name), std::move(attribute));
}

}  // namespace detail

namespace {

// The checks below run before any attribute changes, so that a refused call leaves the
// manager as it was.

void check_old_indices(const OldToNewMapping& mapping, index_t nb_old, absl::string_view what) {
    if (!mapping.empty() && std::prev(mapping.end())->first >= nb_old) {
        throw PolvaneException{"[AttributeManager::",
                               what,
                               "] The given mapping contains old index (",
                               std::prev(mapping.end())->first,
                               ") that goes beyond the number of elements (",
                               nb_old,
                               ")."};
    }
}

void check_new_indices(const OldToNewMapping& mapping, index_t nb_new, absl::string_view what) {
    for (const auto& entry : mapping) {
        for (const index_t new_index : entry.second) {
            if (new_index >= nb_new) {
                throw PolvaneException{"[AttributeManager::",
                                       what,
                                       "] The given mapping contains new index (",
                                       new_index,
                                       ") that goes beyond the number of elements (",
                                       nb_new,
                                       ")."};
            }
        }
    }
}

void check_list_size(std::size_t size, index_t nb_elements, absl::string_view what) {
    check_index_range(size);
    if (size != nb_elements) {
        throw PolvaneException{
            "[AttributeManager::", what,        "] The given list has ", size, " entries for ",
            nb_elements,           " elements."};
    }
}

void check_element(index_t element, index_t nb_elements, absl::string_view what) {
    if (element >= nb_elements) {
        throw PolvaneException{"[AttributeManager::",
                               what,
                               "] Element ",
                               element,
                               " is not below the number of elements (",
                               nb_elements,
                               ")."};
    }
}

}  // namespace

AttributeManager::AttributeManager() : impl_{std::make_unique<Impl>()} {}

AttributeManager::~AttributeManager() {
    // Holders that outlive the manager may register its attributes elsewhere.
    detail::release_all(impl_->attributes, {});
}

AttributeManager::AttributeManager(AttributeManager&& other) noexcept
    : impl_{std::make_unique<Impl>()} {
    *this = std::move(other);
}

AttributeManager& AttributeManager::operator=(AttributeManager&& other) noexcept {
    if (this != &other) {
        // The mutexes stay with their objects: only the contents move.
        impl_->nb_elements = std::exchange(other.impl_->nb_elements, 0);
        // The attributes held here are dropped; those taken over stay held (by this manager).
        detail::release_all(impl_->attributes, {});
        impl_->attributes = std::move(other.impl_->attributes);
        other.impl_->attributes.clear();
    }
    return *this;
}

index_t AttributeManager::nb_elements() const {
    return impl_->nb_elements;
}

std::shared_ptr<AttributeBase> AttributeManager::find_attribute_base(absl::string_view name) const {
    const auto found = impl_->attributes.find(name);
    return found == impl_->attributes.end() ? nullptr : found->second;
}

bool AttributeManager::attribute_exists(absl::string_view name) const {
    return impl_->attributes.contains(name);
}

std::vector<std::string> AttributeManager::attribute_names() const {
    std::vector<std::string> names;
    names.reserve(impl_->attributes.size());
    for (const auto& entry : impl_->attributes) {
        names.push_back(entry.first);
    }
    // The hash map's order changes from run to run; callers get a stable one.
    std::sort(names.begin(), names.end());
    return names;
}

void AttributeManager::register_attribute(std::shared_ptr<AttributeBase> attribute,
                                          absl::string_view name) {
    if (!attribute) {
        throw PolvaneException{
            "[AttributeManager::register_attribute] Cannot register a null "
            "attribute under the name ",
            name};
    }
    if (impl_->attributes.contains(name)) {
        throw PolvaneException{"[AttributeManager::register_attribute] An attribute named ", name,
                               " is already registered."};
    }
    // An attribute sized and reordered by two managers (or twice by one, under two names)
    // would be out of step with one of them, and their next permutation or deletion would
    // read past its end: in every build, it is refused.
    if (!attribute->claim({})) {
        throw PolvaneException{"[AttributeManager::register_attribute] The attribute given for ",
                               name,
                               " is already registered in an attribute manager; delete it "
                               "there first."};
    }
    try {
        attribute->resize(impl_->nb_elements, {});
        impl_->attributes.emplace(std::string{name}, attribute);
    } catch (...) {
        attribute->release({});
        throw;
    }
}

void AttributeManager::delete_attribute(absl::string_view name) {
    const auto found = impl_->attributes.find(name);
    if (found != impl_->attributes.end()) {
        found->second->release({});
        impl_->attributes.erase(found);
    }
}

absl::Mutex& AttributeManager::mutex() const {
    return impl_->mutex;
}

void AttributeManager::resize(index_t nb_elements) {
    impl_->nb_elements = nb_elements;
    for (auto& entry : impl_->attributes) {
        entry.second->resize(nb_elements, {});
    }
}

void AttributeManager::reserve(index_t capacity) {
    for (auto& entry : impl_->attributes) {
        entry.second->reserve(capacity, {});
    }
}

std::vector<index_t> AttributeManager::delete_elements(const std::vector<bool>& to_delete) {
    check_list_size(to_delete.size(), impl_->nb_elements, "delete_elements");
    std::vector<index_t> old2new(to_delete.size(), NO_ID);
    index_t nb_kept = 0;
    for (index_t i = 0; i < to_delete.size(); ++i) {
        if (!to_delete[i]) {
            old2new[i] = nb_kept++;
        }
    }
    if (nb_kept != impl_->nb_elements) {
        for (auto& entry : impl_->attributes) {
            entry.second->delete_elements(to_delete, {});
        }
        impl_->nb_elements = nb_kept;
    }
    return old2new;
}

void AttributeManager::permute_elements(absl::Span<const index_t> permutation) {
    check_list_size(permutation.size(), impl_->nb_elements, "permute_elements");
    // A list that is not a permutation would send the attributes' in-place cycle walk round
    // forever or lose values: refuse it.
    std::vector<bool> seen(permutation.size(), false);
    for (const index_t target : permutation) {
        if (target >= permutation.size() || seen[target]) {
            throw PolvaneException{
                "[AttributeManager::permute_elements] The given list is not "
                "a permutation: index ",
                target, " is out of range or repeated."};
        }
        seen[target] = true;
    }
    for (auto& entry : impl_->attributes) {
        entry.second->permute_elements(permutation, {});
    }
}

void AttributeManager::clear() {
    detail::release_all(impl_->attributes, {});
    impl_->attributes.clear();
    impl_->nb_elements = 0;
}

void AttributeManager::copy(const AttributeManager& from) {
    if (&from == this) {
        return;
    }
    for (const auto& entry : from.impl_->attributes) {
        const auto here = find_attribute_base(entry.first);
        if (here && here->type() != entry.second->type()) {
            throw std::bad_cast{};
        }
    }
    const index_t nb = from.impl_->nb_elements;
    for (const auto& entry : from.impl_->attributes) {
        if (auto here = find_attribute_base(entry.first)) {
            here->copy(*entry.second, nb, {});
        } else {
            detail::emplace_new(impl_->attributes, entry.first, entry.second->clone({}), {});
        }
    }
    resize(nb);
}

namespace {

// Imports every transferable attribute of `from` into `attributes`. Types are checked and new
// attributes made before any value changes, so that a clash changes nothing.
template <typename Mapping>
void import_attributes(const AttributeManager& from, const Mapping& mapping,
                       PassKey<AttributeManager> key, AttributeMap& attributes,
                       index_t nb_elements) {
    struct Step {
        std::string name;
        std::shared_ptr<AttributeBase> target;
        std::shared_ptr<AttributeBase> source;
        bool created;
    };

    std::vector<Step> steps;
    for (auto& name : from.attribute_names()) {
        auto source = from.find_attribute_base(name);
        if (!source->properties().transferable) {
            continue;
        }
        const auto found = attributes.find(name);
        if (found == attributes.end()) {
            steps.push_back({std::move(name), nullptr, std::move(source), true});
        } else if (found->second->type() != source->type()) {
            throw std::bad_cast{};
        } else {
            steps.push_back({std::move(name), found->second, std::move(source), false});
        }
    }
    for (auto& step : steps) {
        if (step.created) {
            // An attribute of the source's type and properties, holding default values.
            step.target = step.source->extract(OldToNewMapping{}, nb_elements, key);
        }
    }
    for (auto& step : steps) {
        step.target->import(mapping, *step.source, key);
        if (step.created) {
            detail::emplace_new(attributes, std::move(step.name), std::move(step.target), key);
        }
    }
}

}  // namespace

void AttributeManager::import(const AttributeManager& from, const OldToNewMapping& mapping) {
    check_old_indices(mapping, from.nb_elements(), "import");
    check_new_indices(mapping, nb_elements(), "import");
    import_attributes(from, mapping, {}, impl_->attributes, impl_->nb_elements);
}

void AttributeManager::import(const AttributeManager& from, absl::Span<const index_t> old2new) {
    check_list_size(old2new.size(), from.nb_elements(), "import");
    for (const index_t new_index : old2new) {
        if (new_index != NO_ID && new_index >= nb_elements()) {
            throw PolvaneException{
                "[AttributeManager::import] The given mapping contains new index (", new_index,
                ") that goes beyond the number of elements (", nb_elements(), ")."};
        }
    }
    import_attributes(from, old2new, {}, impl_->attributes, impl_->nb_elements);
}

AttributeManager AttributeManager::extract(const OldToNewMapping& mapping,
                                           index_t nb_elements) const {
    check_old_indices(mapping, this->nb_elements(), "extract");
    AttributeManager result;
    result.impl_->nb_elements = nb_elements;
    for (const auto& entry : impl_->attributes) {
        if (entry.second->properties().transferable) {
            detail::emplace_new(result.impl_->attributes, entry.first,
                                entry.second->extract(mapping, nb_elements, {}), {});
        }
    }
    return result;
}

AttributeManager AttributeManager::extract(absl::Span<const index_t> old2new,
                                           index_t nb_elements) const {
    check_list_size(old2new.size(), this->nb_elements(), "extract");
    AttributeManager result;
    result.impl_->nb_elements = nb_elements;
    for (const auto& entry : impl_->attributes) {
        if (entry.second->properties().transferable) {
            detail::emplace_new(result.impl_->attributes, entry.first,
                                entry.second->extract(old2new, nb_elements, {}), {});
        }
    }
    return result;
}

void AttributeManager::copy_attribute_value(index_t from, index_t to) {
    for (auto& entry : impl_->attributes) {
        if (entry.second->properties().assignable) {
            entry.second->copy_value(from, to, {});
        }
    }
}

void AttributeManager::interpolate_attribute_value(
    const AttributeLinearInterpolation& interpolation, index_t to) {
    constexpr absl::string_view kWhat = "interpolate_attribute_value";
    if (interpolation.indices.size() != interpolation.lambdas.size()) {
        throw PolvaneException{
            "[AttributeManager::interpolate_attribute_value] The given "
            "interpolation has ",
            interpolation.indices.size(), " indices for ", interpolation.lambdas.size(),
            " weights."};
    }
    // The list is checked in every build; `to`, a single index like those of
    // `copy_attribute_value`, is the caller's responsibility (asserted in debug builds).
    for (const index_t index : interpolation.indices) {
        check_element(index, impl_->nb_elements, kWhat);
    }
    for (auto& entry : impl_->attributes) {
        entry.second->compute_value(interpolation, to, {});
    }
}

}  // namespace orvex
