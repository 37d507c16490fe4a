#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "polvane/basic/assert.h"
#include "polvane/basic/export.h"
#include "polvane/basic/index.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/read_only_attribute.h"

namespace orvex {
namespace detail {

// `std::vector<bool>` cannot hand out references to its values: flags are stored in this
// one-member wrapper instead, whose address is that of its `bool` member.
struct BoolValue {
    bool value;
};

template <typename T>
using Storage = std::conditional_t<std::is_same_v<T, bool>, BoolValue, T>;

}  // namespace detail

/// An attribute with one value of type `T` per element, any `T` that can be copied.
///
/// How values follow the changes of the elements (the manager calls these; see
/// `AttributeBase` for the contracts):
/// \code
///     resize(n):            values.resize(n, default_value)     // capacity at least doubles
///     delete_elements(f):   keep values[i] where !f[i], in order
///     permute_elements(p):  new_values[k] = values[p[k]]         // in place, cycle by cycle
///     extract(old2new, nb): result[old2new[i]] = values[i]      // others hold the default
///     import(old2new, a):   values[old2new[i]] = a.values[i]
/// \endcode
/// A new attribute holds no element and has room reserved for 10.
template <typename T>
class POLVANE_BASIC_EXPORT VariableAttribute : public ReadOnlyAttribute<T> {
    using Stored = detail::Storage<T>;
    using Key = PassKey<AttributeManager>;

public:
    explicit VariableAttribute(T default_value, AttributeProperties properties = {})
        : ReadOnlyAttribute<T>(properties), default_value_(std::move(default_value)) {
        values_.reserve(10);
    }

    [[nodiscard]] double generic_value(index_t element) const override {
        if constexpr (std::is_arithmetic_v<T>) {
            return static_cast<double>(value(element));
        } else {
            static_cast<void>(value(element));
            return 0;
        }
    }

    [[nodiscard]] double generic_item_value(index_t element,
                                            local_index_t /*item*/) const override {
        return generic_value(element);
    }

    [[nodiscard]] bool is_numeric() const override { return std::is_arithmetic_v<T>; }

    [[nodiscard]] bool is_variable() const override { return true; }

    [[nodiscard]] absl::string_view type() const override { return typeid(T).name(); }

    [[nodiscard]] std::shared_ptr<AttributeBase> clone(Key) const override {
        auto result = std::make_shared<VariableAttribute>(default_value_, this->properties());
        result->values_ = values_;
        return result;
    }

    void copy(const AttributeBase& from, index_t nb_elements, Key key) override {
        const auto& other = dynamic_cast<const VariableAttribute&>(from);
        if (&other != this) {
            default_value_ = other.default_value_;
        }
        if (nb_elements == 0) {
            return;
        }
        POLVANE_DEBUG_ASSERT(nb_elements <= other.values_.size(), "[VariableAttribute::copy] ",
                             nb_elements, " elements asked of an attribute of ",
                             other.values_.size());
        resize(nb_elements, key);
        for (index_t i = 0; i < nb_elements; ++i) {
            values_[i] = other.values_[i];
        }
    }

    [[nodiscard]] std::shared_ptr<AttributeBase> extract(const OldToNewMapping& mapping,
                                                         index_t nb_elements,
                                                         Key key) const override {
        auto result = make_default_sized(nb_elements, key);
        for (const auto& [old_index, new_indices] : mapping) {
            check_element(old_index, "extract");
            for (const index_t new_index : new_indices) {
                result->values_[checked_new_index(new_index, nb_elements)] = values_[old_index];
            }
        }
        return result;
    }

    [[nodiscard]] std::shared_ptr<AttributeBase> extract(absl::Span<const index_t> old2new,
                                                         index_t nb_elements,
                                                         Key key) const override {
        check_index_range(old2new.size());
        POLVANE_DEBUG_ASSERT(old2new.size() <= values_.size(), "[VariableAttribute::extract] ",
                             old2new.size(), " entries for ", values_.size(), " values");
        auto result = make_default_sized(nb_elements, key);
        for (index_t old_index = 0; old_index < old2new.size(); ++old_index) {
            const index_t new_index = old2new[old_index];
            if (new_index == NO_ID) {
                continue;
            }
            result->values_[checked_new_index(new_index, nb_elements)] = values_[old_index];
        }
        return result;
    }

    void import(const OldToNewMapping& mapping, const AttributeBase& from, Key) override {
        const auto& other = dynamic_cast<const ReadOnlyAttribute<T>&>(from);
        for (const auto& [old_index, new_indices] : mapping) {
            for (const index_t new_index : new_indices) {
                store(new_index, other.value(old_index));
            }
        }
    }

    void import(absl::Span<const index_t> old2new, const AttributeBase& from, Key) override {
        check_index_range(old2new.size());
        const auto& other = dynamic_cast<const ReadOnlyAttribute<T>&>(from);
        for (index_t old_index = 0; old_index < old2new.size(); ++old_index) {
            if (old2new[old_index] != NO_ID) {
                store(old2new[old_index], other.value(old_index));
            }
        }
    }

    void resize(index_t size, Key) override {
        if (size > values_.capacity()) {
            values_.reserve(std::max<std::size_t>(size, 2 * values_.capacity()));
        }
        values_.resize(size, stored(default_value_));
    }

    void reserve(index_t capacity, Key) override { values_.reserve(capacity); }

    index_t delete_elements(const std::vector<bool>& to_delete, Key) override {
        check_index_range(to_delete.size());
        POLVANE_DEBUG_ASSERT(to_delete.size() == values_.size(),
                             "[VariableAttribute::delete_elements] ", to_delete.size(),
                             " flags for ", values_.size(), " values");
        const auto first = std::find(to_delete.begin(), to_delete.end(), true);
        if (first == to_delete.end()) {
            return 0;
        }
        index_t nb_deleted = 0;
        for (auto i = static_cast<index_t>(first - to_delete.begin()); i < to_delete.size(); ++i) {
            if (to_delete[i]) {
                ++nb_deleted;
            } else {
                values_[i - nb_deleted] = std::move(values_[i]);
            }
        }
        values_.resize(values_.size() - nb_deleted);
        return nb_deleted;
    }

    void permute_elements(absl::Span<const index_t> permutation, Key) override {
        check_index_range(permutation.size());
        POLVANE_DEBUG_ASSERT(permutation.size() == values_.size(),
                             "[VariableAttribute::permute_elements] ", permutation.size(),
                             " entries for ", values_.size(), " values");
        // Follow each cycle once, moving values rather than copying them: only the first
        // value of each cycle is set aside.
        std::vector<bool> visited(permutation.size(), false);
        for (index_t i = 0; i < permutation.size(); ++i) {
            if (visited[i]) {
                continue;
            }
            visited[i] = true;
            Stored aside = std::move(values_[i]);
            index_t current = i;
            while (permutation[current] != i) {
                const index_t from = permutation[current];
                values_[current] = std::move(values_[from]);
                visited[from] = true;
                current = from;
            }
            values_[current] = std::move(aside);
        }
    }

    void compute_value(const AttributeLinearInterpolation& interpolation, index_t to,
                       Key) override {
        if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
            if (this->properties().interpolable) {
                POLVANE_DEBUG_ASSERT(interpolation.lambdas.size() == interpolation.indices.size(),
                                     "[VariableAttribute::compute_value] ",
                                     interpolation.indices.size(), " indices for ",
                                     interpolation.lambdas.size(), " weights");
                double sum = 0;
                for (std::size_t i = 0; i < interpolation.indices.size(); ++i) {
                    sum += interpolation.lambdas[i]
                           * static_cast<double>(value(interpolation.indices[i]));
                }
                if constexpr (std::is_integral_v<T>) {
                    store(to, saturated(sum));
                } else {
                    store(to, static_cast<T>(sum));
                }
                return;
            }
        } else {
            static_cast<void>(interpolation);
        }
        store(to, default_value_);
    }

    void copy_value(index_t from, index_t to, Key) override {
        check_element(from, "copy_value");
        check_element(to, "copy_value");
        if (from != to) {
            values_[to] = values_[from];
        }
    }

    [[nodiscard]] const T& value(index_t element) const override {
        check_element(element, "value");
        if constexpr (std::is_same_v<T, bool>) {
            return values_[element].value;
        } else {
            return values_[element];
        }
    }

    void set_value(index_t element, T value) { store(element, std::move(value)); }

    /// Edits the value of `element` in place: calls `modify(T&)` on the stored value.
    /// \pre `element` is below the manager's number of elements.
    template <typename Modifier>
    void modify_value(index_t element, Modifier&& modify) {
        check_element(element, "modify_value");
        if constexpr (std::is_same_v<T, bool>) {
            std::forward<Modifier>(modify)(values_[element].value);
        } else {
            std::forward<Modifier>(modify)(values_[element]);
        }
    }

    [[nodiscard]] const T& default_value() const { return default_value_; }

    void set_default_value(T value) { default_value_ = std::move(value); }

    /// The number of values held (the manager's number of elements once registered).
    [[nodiscard]] index_t size() const { return static_cast<index_t>(values_.size()); }

    /// The room reserved for values.
    [[nodiscard]] std::size_t capacity() const { return values_.capacity(); }

private:
    static Stored stored(const T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            return Stored{value};
        } else {
            return value;
        }
    }

    void store(index_t element, T value) {
        check_element(element, "set_value");
        if constexpr (std::is_same_v<T, bool>) {
            values_[element].value = value;
        } else {
            values_[element] = std::move(value);
        }
    }

    // A weighted sum converted to an integer type: converting a value outside the type's range
    // (huge weights) or a NaN (NaN weights) would be undefined, so the sum saturates at the
    // type's bounds, and a NaN gives the default value.
    T saturated(double sum) const {
        constexpr auto low = static_cast<double>(std::numeric_limits<T>::lowest());
        // Rounded up to a power of two when T has more bits than a double's mantissa.
        constexpr auto high = static_cast<double>(std::numeric_limits<T>::max());
        if (std::isnan(sum)) {
            return default_value_;
        }
        if (sum >= high) {
            return std::numeric_limits<T>::max();
        }
        if (sum <= low) {
            return std::numeric_limits<T>::lowest();
        }
        return static_cast<T>(sum);
    }

    // Debug builds only: element indices are the caller's responsibility, and checking them on
    // every read would cost the hot paths of release builds.
    void check_element([[maybe_unused]] index_t element,
                       [[maybe_unused]] const char* operation) const {
        POLVANE_DEBUG_ASSERT(element < values_.size(), "[VariableAttribute::", operation,
                             "] Element ", element, " is not below the number of values (",
                             values_.size(), ")");
    }

    std::shared_ptr<VariableAttribute> make_default_sized(index_t nb_elements, Key key) const {
        auto result = std::make_shared<VariableAttribute>(default_value_, this->properties());
        result->resize(nb_elements, key);
        return result;
    }

    static index_t checked_new_index(index_t new_index, index_t nb_elements) {
        if (new_index >= nb_elements) {
            throw PolvaneException{
                "[VariableAttribute::extract] The given mapping contains values (", new_index,
                ") that go beyond the given number of elements (", nb_elements, ")."};
        }
        return new_index;
    }

    T default_value_;
    std::vector<Stored> values_;
};

}  // namespace orvex
