#pragma once

namespace orvex {

/// A token that only `T` can make. An operation that takes a `PassKey<T>` by value can be
/// called from `T` alone, without making `T` a friend of the whole class:
/// \code
///     class Store { public: void edit(PassKey<Editor>); };
///     class Editor { void run(Store& s) { s.edit({}); } };
/// \endcode
template <typename T>
class PassKey {
    friend T;

private:
    // User-provided on purpose: a defaulted constructor would make PassKey an aggregate, and
    // `PassKey<T>{}` would then compile anywhere.
    PassKey() {}  // NOLINT(modernize-use-equals-default)
};

}  // namespace orvex
