#include "polvane/basic/attribute_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "polvane/basic/variable_attribute.h"

namespace orvex {
namespace {

using List = std::vector<int>;
using ListAttribute = VariableAttribute<List>;
using NumberAttribute = VariableAttribute<double>;

// The plain reference the manager is checked against: one vector of lists and one vector of
// numbers, changed with the textbook meaning of each operation.
struct Model {
    std::vector<List> lists;
    std::vector<double> numbers;
};

struct Subject {
    AttributeManager manager;
    std::shared_ptr<ListAttribute> lists;
    std::shared_ptr<NumberAttribute> numbers;

    void attach() {
        lists = manager.find_or_create_attribute<VariableAttribute, List>("lists", {},
                                                                          {false, false, true});
        numbers = manager.find_or_create_attribute<VariableAttribute, double>("numbers", -1.,
                                                                              {true, true, true});
    }
};

void expect_same(const Subject& subject, const Model& model, int step) {
    ASSERT_EQ(subject.manager.nb_elements(), model.lists.size()) << "step " << step;
    ASSERT_EQ(subject.lists->size(), model.lists.size()) << "step " << step;
    ASSERT_EQ(subject.numbers->size(), model.numbers.size()) << "step " << step;
    for (index_t i = 0; i < model.lists.size(); ++i) {
        ASSERT_EQ(subject.lists->value(i), model.lists[i]) << "step " << step << " element " << i;
        ASSERT_EQ(subject.numbers->value(i), model.numbers[i]) << "step " << step;
    }
}

std::vector<index_t> random_old2new(std::mt19937& random, index_t nb_old, index_t nb_new) {
    std::vector<index_t> old2new(nb_old, NO_ID);
    std::uniform_int_distribution<index_t> pick{0, nb_new == 0 ? 0 : nb_new - 1};
    for (auto& entry : old2new) {
        if (nb_new > 0 && random() % 3 != 0) {
            entry = pick(random);
        }
    }
    return old2new;
}

TEST(AttributeManager, RandomSequencesFollowAPlainReferenceModel) {
    std::mt19937 random{20261208};
    Subject subject;
    subject.attach();
    Model model;
    int next_value = 0;
    for (int step = 0; step < 3000; ++step) {
        const auto n = static_cast<index_t>(model.lists.size());
        // Give some elements fresh values so that every operation has something to move.
        for (index_t i = 0; i < n; ++i) {
            if (random() % 4 == 0) {
                List list(random() % 4, next_value++);
                subject.lists->set_value(i, list);
                model.lists[i] = list;
                subject.numbers->set_value(i, next_value);
                model.numbers[i] = next_value;
            }
        }
        switch (random() % 7) {
            case 0: {  // resize, across the inline and reserved capacities
                const index_t size = random() % 40;
                subject.manager.resize(size);
                model.lists.resize(size);
                model.numbers.resize(size, -1.);
                break;
            }
            case 1: {  // delete
                std::vector<bool> flags(n);
                for (index_t i = 0; i < n; ++i) {
                    flags[i] = random() % 3 == 0;
                }
                const auto old2new = subject.manager.delete_elements(flags);
                Model kept;
                for (index_t i = 0; i < n; ++i) {
                    if (!flags[i]) {
                        ASSERT_EQ(old2new[i], kept.lists.size());
                        kept.lists.push_back(model.lists[i]);
                        kept.numbers.push_back(model.numbers[i]);
                    } else {
                        ASSERT_EQ(old2new[i], NO_ID);
                    }
                }
                model = kept;
                break;
            }
            case 2: {  // permute
                std::vector<index_t> permutation(n);
                std::iota(permutation.begin(), permutation.end(), 0);
                std::shuffle(permutation.begin(), permutation.end(), random);
                subject.manager.permute_elements(permutation);
                Model permuted = model;
                for (index_t k = 0; k < n; ++k) {
                    permuted.lists[k] = model.lists[permutation[k]];
                    permuted.numbers[k] = model.numbers[permutation[k]];
                }
                model = permuted;
                break;
            }
            case 3: {  // extract into a new manager, which then replaces the subject
                const index_t nb = random() % 30;
                const auto old2new = random_old2new(random, n, nb);
                Subject extracted{subject.manager.extract(old2new, nb), nullptr, nullptr};
                extracted.attach();
                Model next{std::vector<List>(nb), std::vector<double>(nb, -1.)};
                for (index_t i = 0; i < n; ++i) {
                    if (old2new[i] != NO_ID) {
                        next.lists[old2new[i]] = model.lists[i];
                        next.numbers[old2new[i]] = model.numbers[i];
                    }
                }
                subject = std::move(extracted);
                model = next;
                break;
            }
            case 4: {  // extract with a one-to-many mapping
                const index_t nb = 1 + random() % 30;
                OldToNewMapping mapping;
                Model next{std::vector<List>(nb), std::vector<double>(nb, -1.)};
                for (index_t i = 0; i < n; ++i) {
                    for (unsigned copies = random() % 3; copies > 0; --copies) {
                        const index_t target = random() % nb;
                        mapping.map(i, target);
                    }
                }
                for (const auto& [old_index, news] : mapping) {
                    for (const index_t target : news) {
                        next.lists[target] = model.lists[old_index];
                        next.numbers[target] = model.numbers[old_index];
                    }
                }
                Subject extracted{subject.manager.extract(mapping, nb), nullptr, nullptr};
                extracted.attach();
                subject = std::move(extracted);
                model = next;
                break;
            }
            case 5: {  // import from a copy into a manager of another size
                Subject source;
                source.manager.copy(subject.manager);
                source.attach();
                expect_same(source, model, step);
                const index_t nb = random() % 30;
                subject.manager.resize(nb);
                model.lists.resize(nb);
                model.numbers.resize(nb, -1.);
                const auto old2new = random_old2new(random, n, nb);
                subject.manager.import(source.manager, old2new);
                for (index_t i = 0; i < n; ++i) {
                    if (old2new[i] != NO_ID) {
                        model.lists[old2new[i]] = source.lists->value(i);
                        model.numbers[old2new[i]] = source.numbers->value(i);
                    }
                }
                break;
            }
            default: {  // copy into a fresh manager, which then replaces the subject
                Subject copied;
                copied.manager.copy(subject.manager);
                copied.attach();
                EXPECT_NE(copied.lists, subject.lists);
                subject = std::move(copied);
                break;
            }
        }
        expect_same(subject, model, step);
    }
}

TEST(AttributeManager, AThrowingExtractLeavesTheManagerUnchanged) {
    Subject subject;
    subject.manager.resize(3);
    subject.attach();
    subject.lists->set_value(1, {7});
    EXPECT_THROW(static_cast<void>(subject.manager.extract(std::vector<index_t>{0, 9, 1}, 2)),
                 PolvaneException);
    EXPECT_THROW(static_cast<void>(subject.manager.extract(std::vector<index_t>{0, 1}, 2)),
                 PolvaneException);
    OldToNewMapping beyond_old;
    beyond_old.map(3, 0);
    EXPECT_THROW(static_cast<void>(subject.manager.extract(beyond_old, 1)), PolvaneException);
    EXPECT_EQ(subject.manager.nb_elements(), 3u);
    EXPECT_EQ(subject.manager.find_attribute_base("lists"), subject.lists);
    EXPECT_EQ(subject.lists->value(1), (List{7}));
}

TEST(AttributeManager, ImportRefusesIndicesBeyondEitherManager) {
    Subject from;
    from.manager.resize(2);
    from.attach();
    AttributeManager to;
    to.resize(1);
    EXPECT_THROW(to.import(from.manager, std::vector<index_t>{0, 1}), PolvaneException);
    EXPECT_THROW(to.import(from.manager, std::vector<index_t>{0}), PolvaneException);
    OldToNewMapping mapping;
    mapping.map(2, 0);
    EXPECT_THROW(to.import(from.manager, mapping), PolvaneException);
    EXPECT_TRUE(to.attribute_names().empty());
    to.import(from.manager, std::vector<index_t>{NO_ID, 0});
    EXPECT_EQ(to.attribute_names(), (std::vector<std::string>{"lists", "numbers"}));
}

TEST(AttributeManager, RegistrationSizesAttributesAndDeletionAllowsAbsentNames) {
    AttributeManager manager;
    manager.resize(4);
    auto attribute = std::make_shared<ListAttribute>(List{1}, AttributeProperties{});
    manager.register_attribute(attribute, "a");
    EXPECT_EQ(attribute->size(), 4u);
    EXPECT_EQ(attribute->value(3), (List{1}));
    EXPECT_THROW(manager.register_attribute(attribute, "a"), PolvaneException);
    EXPECT_THROW(manager.register_attribute(nullptr, "b"), PolvaneException);
    manager.delete_attribute("absent");
    manager.delete_attribute("a");
    EXPECT_FALSE(manager.attribute_exists("a"));
    manager.resize(6);
    EXPECT_EQ(attribute->size(), 4u) << "a deleted attribute no longer follows the elements";
}

TEST(AttributeManager, FindOrCreateRefusesANameHeldByAnotherType) {
    AttributeManager manager;
    manager.resize(2);
    auto numbers = manager.find_or_create_attribute<VariableAttribute, double>("x", 0., {});
    try {
        manager.find_or_create_attribute<VariableAttribute, List>("x", {}, {});
        FAIL() << "no exception";
    } catch (const PolvaneException& error) {
        EXPECT_STREQ(error.what(),
                     "[AttributeManager::find_or_create_attribute] Do not instantiate an "
                     "attribute if an instantiated attribute of the same name with different "
                     "storage already exists.");
    }
    EXPECT_EQ(manager.find_attribute_base("x"), numbers);
    EXPECT_EQ(manager.attribute_names(), (std::vector<std::string>{"x"}));
    // The lock was released on the way out.
    EXPECT_EQ((manager.find_or_create_attribute<VariableAttribute, double>("x", 1., {})), numbers);
}

TEST(AttributeManager, FindOrCreateFromManyThreadsCreatesOneAttribute) {
    for (int round = 0; round < 20; ++round) {
        AttributeManager manager;
        manager.resize(5);
        std::vector<std::shared_ptr<ListAttribute>> found(8);
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < found.size(); ++t) {
            threads.emplace_back([&manager, &found, t] {
                found[t] = manager.find_or_create_attribute<VariableAttribute, List>(
                    "shared", {}, {false, false, true});
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        for (const auto& attribute : found) {
            EXPECT_EQ(attribute, found.front());
        }
        EXPECT_EQ(found.front()->size(), 5u);
    }
}

TEST(AttributeManager, MovingTransfersAttributesAndClearEmpties) {
    Subject subject;
    subject.manager.resize(2);
    subject.attach();
    AttributeManager moved{std::move(subject.manager)};
    EXPECT_EQ(moved.nb_elements(), 2u);
    EXPECT_EQ(moved.find_attribute_base("lists"), subject.lists);
    EXPECT_EQ(subject.manager.nb_elements(), 0u);  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(subject.manager.attribute_names().empty());
    moved.clear();
    EXPECT_EQ(moved.nb_elements(), 0u);
    EXPECT_TRUE(moved.attribute_names().empty());
}

// An attribute sized by two managers is out of step with one of them: the first manager's next
// permutation would read past its end. Refused in every build; deleting it frees it.
TEST(AttributeManager, AnAttributeBelongsToOneManagerAtATime) {
    AttributeManager a;
    a.resize(3);
    AttributeManager b;
    b.resize(5);
    auto shared = std::make_shared<ListAttribute>(List{}, AttributeProperties{});
    a.register_attribute(shared, "shared");
    shared->set_value(2, {9});
    try {
        b.register_attribute(shared, "shared");
        FAIL() << "no exception";
    } catch (const PolvaneException& error) {
        EXPECT_STREQ(error.what(),
                     "[AttributeManager::register_attribute] The attribute given for shared is "
                     "already registered in an attribute manager; delete it there first.");
    }
    EXPECT_THROW(a.register_attribute(shared, "alias"), PolvaneException);
    EXPECT_FALSE(b.attribute_exists("shared"));
    EXPECT_FALSE(a.attribute_exists("alias"));
    EXPECT_EQ(shared->size(), 3u);
    a.permute_elements(std::vector<index_t>{2, 0, 1});
    EXPECT_EQ(shared->value(0), (List{9}));

    a.delete_attribute("shared");
    b.register_attribute(shared, "shared");
    EXPECT_EQ(shared->size(), 5u);

    // Clearing, destroying and moving managers: what a manager drops is free, what it hands
    // over stays held.
    b.clear();
    {
        AttributeManager scoped;
        scoped.register_attribute(shared, "shared");
        AttributeManager taker{std::move(scoped)};
        EXPECT_THROW(a.register_attribute(shared, "shared"), PolvaneException);
        AttributeManager extracted = taker.extract(std::vector<index_t>{}, 2);
        auto copy = extracted.find_attribute_base("shared");
        ASSERT_NE(copy, nullptr);
        EXPECT_THROW(a.register_attribute(copy, "copy"), PolvaneException);
        extracted = AttributeManager{};
        a.register_attribute(copy, "copy");
    }
    a.register_attribute(shared, "shared");
    EXPECT_EQ(a.attribute_names(), (std::vector<std::string>{"copy", "shared"}));
}

// An interpolation reads every attribute at its indices: its lists are checked in every build,
// before anything is written.
TEST(AttributeManager, InterpolationListsAreChecked) {
    Subject subject;
    subject.manager.resize(3);
    subject.attach();
    subject.numbers->set_value(0, 4.);
    AttributeLinearInterpolation interpolation;
    interpolation.indices = {0, 1};
    interpolation.lambdas = {0.5};
    EXPECT_THROW(subject.manager.interpolate_attribute_value(interpolation, 2), PolvaneException);
    interpolation.lambdas = {0.5, 0.5};
    interpolation.indices = {0, 7};
    EXPECT_THROW(subject.manager.interpolate_attribute_value(interpolation, 2), PolvaneException);
    EXPECT_EQ(subject.numbers->value(2), -1.);
    interpolation.indices = {0, 1};
    subject.manager.interpolate_attribute_value(interpolation, 2);
    EXPECT_EQ(subject.numbers->value(2), 1.5);
}

}  // namespace
}  // namespace orvex
