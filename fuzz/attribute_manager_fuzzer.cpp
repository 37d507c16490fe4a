// Drives two attribute managers through random sequences of resize, delete, permute, extract,
// import, copy, attribute creation and deletion, and value edits, and compares them after every
// step with a plain reference model: a map from names to vectors of values.

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "fuzz_common.h"
#include "polvane/basic/attribute_manager.h"
#include "polvane/basic/polvane_exception.h"
#include "polvane/basic/variable_attribute.h"

namespace orvex {
namespace {

using fuzz::check;
using fuzz::fail;

using List = std::vector<int>;

// An attribute of the model. Both value types are kept as lists: a number attribute holds
// lists of one entry.
struct ModelAttribute {
    bool is_list{false};
    AttributeProperties properties;
    List default_value;
    std::vector<List> values;
};

struct Model {
    index_t nb_elements{0};
    std::map<std::string, ModelAttribute> attributes;

    void resize(index_t nb) {
        nb_elements = nb;
        for (auto& [name, attribute] : attributes) {
            attribute.values.resize(nb, attribute.default_value);
        }
    }
};

constexpr const char* NAMES[] = {"a", "b", "c", "d"};
constexpr index_t MAX_ELEMENTS = 12;

std::string pick_name(FuzzedDataProvider& data) {
    return NAMES[data.ConsumeIntegralInRange<int>(0, 3)];
}

List make_value(FuzzedDataProvider& data, bool is_list) {
    if (!is_list) {
        return {data.ConsumeIntegralInRange<int>(-100, 100)};
    }
    List list(data.ConsumeIntegralInRange<int>(0, 3));
    for (auto& entry : list) {
        entry = data.ConsumeIntegralInRange<int>(-100, 100);
    }
    return list;
}

AttributeProperties make_properties(FuzzedDataProvider& data) {
    return {data.ConsumeBool(), data.ConsumeBool(), data.ConsumeBool()};
}

// An index list of one entry per element of `nb_old`, each a new index below `nb_new + 1` or
// NO_ID (so some are out of range).
std::vector<index_t> make_old2new(FuzzedDataProvider& data, index_t nb_old, index_t nb_new) {
    std::vector<index_t> old2new(nb_old);
    for (auto& entry : old2new) {
        entry = data.ConsumeBool() ? NO_ID : data.ConsumeIntegralInRange<index_t>(0, nb_new);
    }
    return old2new;
}

OldToNewMapping make_mapping(FuzzedDataProvider& data, index_t nb_old, index_t nb_new) {
    OldToNewMapping mapping;
    const int nb_pairs = data.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < nb_pairs; ++i) {
        mapping.map(data.ConsumeIntegralInRange<index_t>(0, nb_old),
                    data.ConsumeIntegralInRange<index_t>(0, nb_new));
    }
    return mapping;
}

// Reads attribute `name` of `manager` as the model would hold it.
ModelAttribute read_attribute(const AttributeManager& manager, const std::string& name) {
    const auto base = manager.find_attribute_base(name);
    ModelAttribute result;
    result.properties = base->properties();
    if (const auto numbers = std::dynamic_pointer_cast<VariableAttribute<int>>(base)) {
        result.default_value = {numbers->default_value()};
        for (index_t i = 0; i < numbers->size(); ++i) {
            result.values.push_back({numbers->value(i)});
        }
    } else if (const auto lists = std::dynamic_pointer_cast<VariableAttribute<List>>(base)) {
        result.is_list = true;
        result.default_value = lists->default_value();
        for (index_t i = 0; i < lists->size(); ++i) {
            result.values.push_back(lists->value(i));
        }
    } else {
        fail("attribute " + name + " has an unexpected type");
    }
    return result;
}

void compare(const AttributeManager& manager, const Model& model, const char* which) {
    const std::string where = std::string{"manager "} + which + ": ";
    check(manager.nb_elements() == model.nb_elements, where + "element count");
    std::vector<std::string> names;
    for (const auto& entry : model.attributes) {
        names.push_back(entry.first);
    }
    check(manager.attribute_names() == names, where + "attribute names");
    for (const auto& [name, expected] : model.attributes) {
        const ModelAttribute actual = read_attribute(manager, name);
        check(actual.is_list == expected.is_list, where + name + ": value type");
        check(actual.properties == expected.properties, where + name + ": properties");
        check(actual.default_value == expected.default_value, where + name + ": default value");
        check(actual.values == expected.values, where + name + ": values");
    }
}

// The model of `to.copy(from)`, or false when the real call must refuse (a type clash).
bool model_copy(Model& to, const Model& from) {
    for (const auto& [name, attribute] : from.attributes) {
        const auto here = to.attributes.find(name);
        if (here != to.attributes.end() && here->second.is_list != attribute.is_list) {
            return false;
        }
    }
    for (const auto& [name, attribute] : from.attributes) {
        auto here = to.attributes.find(name);
        if (here == to.attributes.end()) {
            to.attributes.emplace(name, attribute);
        } else {
            here->second.default_value = attribute.default_value;
            here->second.values = attribute.values;
        }
    }
    to.resize(from.nb_elements);
    return true;
}

// The model of `to.import(from, mapping)` over (old, new) pairs already checked by the caller;
// false when the real call must refuse with a type clash.
bool model_import(Model& to, const Model& from,
                  const std::vector<std::pair<index_t, index_t>>& pairs) {
    for (const auto& [name, attribute] : from.attributes) {
        const auto here = to.attributes.find(name);
        if (attribute.properties.transferable && here != to.attributes.end()
            && here->second.is_list != attribute.is_list) {
            return false;
        }
    }
    for (const auto& [name, attribute] : from.attributes) {
        if (!attribute.properties.transferable) {
            continue;
        }
        auto here = to.attributes.find(name);
        if (here == to.attributes.end()) {
            ModelAttribute created = attribute;
            created.values.assign(to.nb_elements, attribute.default_value);
            here = to.attributes.emplace(name, std::move(created)).first;
        }
        for (const auto& [old_index, new_index] : pairs) {
            here->second.values[new_index] = attribute.values[old_index];
        }
    }
    return true;
}

// The model of `from.extract(pairs, nb)`: only transferable attributes, default values, then
// the pairs in order.
Model model_extract(const Model& from, const std::vector<std::pair<index_t, index_t>>& pairs,
                    index_t nb) {
    Model result;
    result.nb_elements = nb;
    for (const auto& [name, attribute] : from.attributes) {
        if (!attribute.properties.transferable) {
            continue;
        }
        ModelAttribute extracted = attribute;
        extracted.values.assign(nb, attribute.default_value);
        for (const auto& [old_index, new_index] : pairs) {
            extracted.values[new_index] = attribute.values[old_index];
        }
        result.attributes.emplace(name, std::move(extracted));
    }
    return result;
}

bool has_transferable(const Model& model) {
    return std::any_of(model.attributes.begin(), model.attributes.end(),
                       [](const auto& entry) { return entry.second.properties.transferable; });
}

enum class Outcome { accepted, polvane_exception, bad_cast };

template <typename Call>
Outcome outcome_of(Call&& call) {
    try {
        call();
    } catch (const PolvaneException&) {
        return Outcome::polvane_exception;
    } catch (const std::bad_cast&) {
        return Outcome::bad_cast;
    }
    return Outcome::accepted;
}

template <typename Call>
bool throws_polvane(Call&& call) {
    return outcome_of(std::forward<Call>(call)) == Outcome::polvane_exception;
}

template <typename Call>
bool throws_bad_cast(Call&& call) {
    return outcome_of(std::forward<Call>(call)) == Outcome::bad_cast;
}

void find_or_create(FuzzedDataProvider& data, AttributeManager& manager, Model& model) {
    const std::string name = pick_name(data);
    const bool is_list = data.ConsumeBool();
    const List default_value = make_value(data, is_list);
    const AttributeProperties properties = make_properties(data);
    const auto existing = model.attributes.find(name);
    const bool clash = existing != model.attributes.end() && existing->second.is_list != is_list;
    const bool thrown = throws_polvane([&] {
        if (is_list) {
            static_cast<void>(manager.find_or_create_attribute<VariableAttribute, List>(
                name, default_value, properties));
        } else {
            static_cast<void>(manager.find_or_create_attribute<VariableAttribute, int>(
                name, default_value.front(), properties));
        }
    });
    check(thrown == clash, "find_or_create_attribute: refusal differs from the model");
    if (existing == model.attributes.end()) {
        ModelAttribute created{is_list, properties, default_value, {}};
        created.values.assign(model.nb_elements, default_value);
        model.attributes.emplace(name, std::move(created));
    }
}

void set_value(FuzzedDataProvider& data, AttributeManager& manager, Model& model) {
    if (model.attributes.empty() || model.nb_elements == 0) {
        return;
    }
    auto entry = model.attributes.begin();
    std::advance(entry, data.ConsumeIntegralInRange<std::size_t>(0, model.attributes.size() - 1));
    const index_t element = data.ConsumeIntegralInRange<index_t>(0, model.nb_elements - 1);
    const List value = make_value(data, entry->second.is_list);
    const auto base = manager.find_attribute_base(entry->first);
    if (entry->second.is_list) {
        std::dynamic_pointer_cast<VariableAttribute<List>>(base)->set_value(element, value);
    } else {
        std::dynamic_pointer_cast<VariableAttribute<int>>(base)->set_value(element, value.front());
    }
    entry->second.values[element] = value;
}

void delete_elements(FuzzedDataProvider& data, AttributeManager& manager, Model& model) {
    // Now and then one flag too many or too few: refused, nothing changes.
    const int size_error = data.ConsumeIntegralInRange<int>(0, 7) == 0 ? 1 : 0;
    std::vector<bool> flags(model.nb_elements + size_error);
    for (auto&& flag : flags) {
        flag = data.ConsumeBool();
    }
    std::vector<index_t> old2new;
    const bool thrown = throws_polvane([&] { old2new = manager.delete_elements(flags); });
    check(thrown == (size_error != 0), "delete_elements: refusal differs from the model");
    if (thrown) {
        return;
    }
    index_t kept = 0;
    for (index_t i = 0; i < flags.size(); ++i) {
        check(old2new[i] == (flags[i] ? NO_ID : kept), "delete_elements: old-to-new list");
        if (!flags[i]) {
            for (auto& entry : model.attributes) {
                entry.second.values[kept] = entry.second.values[i];
            }
            ++kept;
        }
    }
    model.resize(kept);
}

void permute(FuzzedDataProvider& data, AttributeManager& manager, Model& model) {
    std::vector<index_t> permutation(model.nb_elements);
    std::iota(permutation.begin(), permutation.end(), 0);
    for (index_t i = model.nb_elements; i > 1; --i) {
        std::swap(permutation[i - 1], permutation[data.ConsumeIntegralInRange<index_t>(0, i - 1)]);
    }
    bool valid = true;
    if (!permutation.empty() && data.ConsumeIntegralInRange<int>(0, 7) == 0) {
        // A repeated or out-of-range entry: refused, nothing changes.
        permutation[data.ConsumeIntegralInRange<index_t>(0, model.nb_elements - 1)] =
            data.ConsumeIntegralInRange<index_t>(0, model.nb_elements);
        std::vector<index_t> sorted = permutation;
        std::sort(sorted.begin(), sorted.end());
        valid = sorted.back() < model.nb_elements
                && std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
    }
    const bool thrown = throws_polvane([&] { manager.permute_elements(permutation); });
    check(thrown == !valid, "permute_elements: refusal differs from the model");
    if (thrown) {
        return;
    }
    for (auto& entry : model.attributes) {
        std::vector<List> permuted(model.nb_elements);
        for (index_t k = 0; k < model.nb_elements; ++k) {
            permuted[k] = entry.second.values[permutation[k]];
        }
        entry.second.values = std::move(permuted);
    }
}

void extract(FuzzedDataProvider& data, AttributeManager& from, const Model& from_model,
             AttributeManager& to, Model& to_model) {
    const auto nb = data.ConsumeIntegralInRange<index_t>(0, MAX_ELEMENTS);
    std::vector<std::pair<index_t, index_t>> pairs;
    bool bad_new = false;
    bool bad_old = false;
    AttributeManager result;
    bool thrown = false;
    if (data.ConsumeBool()) {
        const auto old2new = make_old2new(data, from_model.nb_elements, nb);
        for (index_t i = 0; i < old2new.size(); ++i) {
            if (old2new[i] != NO_ID) {
                bad_new = bad_new || old2new[i] >= nb;
                pairs.emplace_back(i, old2new[i]);
            }
        }
        thrown = throws_polvane([&] { result = from.extract(old2new, nb); });
    } else {
        const auto mapping = make_mapping(data, from_model.nb_elements, nb);
        for (const auto& [old_index, new_indices] : mapping) {
            bad_old = bad_old || old_index >= from_model.nb_elements;
            for (const index_t new_index : new_indices) {
                bad_new = bad_new || new_index >= nb;
                pairs.emplace_back(old_index, new_index);
            }
        }
        thrown = throws_polvane([&] { result = from.extract(mapping, nb); });
    }
    // New indices are checked by the attributes themselves: with no transferable attribute
    // there is nothing to place and no refusal.
    check(thrown == (bad_old || (bad_new && has_transferable(from_model))),
          "extract: refusal differs from the model");
    compare(from, from_model, "extract source");
    if (thrown) {
        return;
    }
    to = std::move(result);
    to_model = model_extract(from_model, pairs, nb);
}

void import(FuzzedDataProvider& data, AttributeManager& to, Model& to_model,
            const AttributeManager& from, const Model& from_model) {
    std::vector<std::pair<index_t, index_t>> pairs;
    bool bad_index = false;
    Outcome outcome = Outcome::accepted;
    if (data.ConsumeBool()) {
        // Now and then one entry too many: refused like an index out of range.
        const index_t size_error = data.ConsumeIntegralInRange<int>(0, 7) == 0 ? 1 : 0;
        const auto old2new =
            make_old2new(data, from_model.nb_elements + size_error, to_model.nb_elements);
        bad_index = size_error != 0;
        for (index_t i = 0; i < old2new.size(); ++i) {
            if (old2new[i] != NO_ID) {
                bad_index = bad_index || old2new[i] >= to_model.nb_elements;
                pairs.emplace_back(i, old2new[i]);
            }
        }
        outcome = outcome_of([&] { to.import(from, old2new); });
    } else {
        const auto mapping = make_mapping(data, from_model.nb_elements, to_model.nb_elements);
        for (const auto& [old_index, new_indices] : mapping) {
            bad_index = bad_index || old_index >= from_model.nb_elements;
            for (const index_t new_index : new_indices) {
                bad_index = bad_index || new_index >= to_model.nb_elements;
                pairs.emplace_back(old_index, new_index);
            }
        }
        outcome = outcome_of([&] { to.import(from, mapping); });
    }
    // Indices are checked before types; a refused call changes nothing.
    if (bad_index) {
        check(outcome == Outcome::polvane_exception, "import: index error not refused");
        return;
    }
    Model expected = to_model;
    const bool accepted = model_import(expected, from_model, pairs);
    check(outcome == (accepted ? Outcome::accepted : Outcome::bad_cast),
          "import: outcome differs from the model");
    if (accepted) {
        to_model = std::move(expected);
    }
}

void copy(AttributeManager& to, Model& to_model, const AttributeManager& from,
          const Model& from_model) {
    Model expected = to_model;
    const bool accepted = model_copy(expected, from_model);
    const bool thrown = throws_bad_cast([&] { to.copy(from); });
    check(thrown == !accepted, "copy: type clash differs from the model");
    if (accepted) {
        to_model = std::move(expected);
    }
}

void copy_value(FuzzedDataProvider& data, AttributeManager& manager, Model& model) {
    if (model.nb_elements == 0) {
        return;
    }
    const index_t from = data.ConsumeIntegralInRange<index_t>(0, model.nb_elements - 1);
    const index_t to = data.ConsumeIntegralInRange<index_t>(0, model.nb_elements - 1);
    manager.copy_attribute_value(from, to);
    for (auto& entry : model.attributes) {
        if (entry.second.properties.assignable) {
            entry.second.values[to] = entry.second.values[from];
        }
    }
}

// One input of the fuzzer.
int fuzz_one_input(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    AttributeManager managers[2];
    Model models[2];
    int steps = 0;
    while (data.remaining_bytes() > 0 && steps++ < 64) {
        const int which = data.ConsumeIntegralInRange<int>(0, 1);
        AttributeManager& manager = managers[which];
        Model& model = models[which];
        AttributeManager& other = managers[1 - which];
        Model& other_model = models[1 - which];
        switch (data.ConsumeIntegralInRange<int>(0, 10)) {
            case 0:
            case 1: {
                const auto nb = data.ConsumeIntegralInRange<index_t>(0, MAX_ELEMENTS);
                manager.resize(nb);
                model.resize(nb);
                break;
            }
            case 2:
                find_or_create(data, manager, model);
                break;
            case 3:
                set_value(data, manager, model);
                break;
            case 4:
                delete_elements(data, manager, model);
                break;
            case 5:
                permute(data, manager, model);
                break;
            case 6:
                extract(data, manager, model, other, other_model);
                break;
            case 7:
                import(data, manager, model, other, other_model);
                break;
            case 8:
                copy(manager, model, other, other_model);
                break;
            case 9: {
                const std::string name = pick_name(data);
                manager.delete_attribute(name);
                model.attributes.erase(name);
                break;
            }
            default:
                copy_value(data, manager, model);
                break;
        }
        compare(managers[0], models[0], "0");
        compare(managers[1], models[1], "1");
    }
    return 0;
}

}  // namespace
}  // namespace orvex

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    return orvex::fuzz_one_input(bytes, size);
}
