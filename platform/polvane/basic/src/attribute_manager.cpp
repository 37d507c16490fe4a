#include "polvane/basic/attribute_manager.h"

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <typeinfo>
#include <utility>

namespace orvex {

class AttributeManager::Impl {
public:
    mutable absl::Mutex mutex;
    index_t nb_elements{0};
    absl::flat_hash_map<std::string, std::shared_ptr<AttributeBase>> attributes;
};

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

}  // namespace

AttributeManager::AttributeManager() : impl_{std::make_unique<Impl>()} {}

AttributeManager::~AttributeManager() = default;

AttributeManager::AttributeManager(AttributeManager&& other) noexcept
    : impl_{std::make_unique<Impl>()} {
    *this = std::move(other);
}

AttributeManager& AttributeManager::operator=(AttributeManager&& other) noexcept {
    if (this != &other) {
        // The mutexes stay with their objects: only the contents move.
        impl_->nb_elements = std::exchange(other.impl_->nb_elements, 0);
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
    attribute->resize(impl_->nb_elements, {});
    impl_->attributes.emplace(std::string{name}, std::move(attribute));
}

void AttributeManager::delete_attribute(absl::string_view name) {
    const auto found = impl_->attributes.find(name);
    if (found != impl_->attributes.end()) {
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
            impl_->attributes.emplace(entry.first, entry.second->clone({}));
        }
    }
    resize(nb);
}

namespace {

using AttributeMap = absl::flat_hash_map<std::string, std::shared_ptr<AttributeBase>>;

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
            attributes.emplace(std::move(step.name), std::move(step.target));
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
            result.impl_->attributes.emplace(entry.first,
                                             entry.second->extract(mapping, nb_elements, {}));
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
            result.impl_->attributes.emplace(entry.first,
                                             entry.second->extract(old2new, nb_elements, {}));
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
    for (auto& entry : impl_->attributes) {
        entry.second->compute_value(interpolation, to, {});
    }
}

}  // namespace orvex
