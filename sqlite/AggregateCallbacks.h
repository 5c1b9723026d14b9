#pragma once

#include "sqlite/Value.h"

#include <any>
#include <functional>
#include <optional>

namespace sqlite {

/// The type-erased form of an aggregate function. Each evaluation (one group of one statement) gets its own
/// state, made by `makeState`, folded by `stepState` once per row and turned into the result by
/// `finishState`; the state is destroyed right after `finishState`, exactly once, even when a callback throws.
/// A step that throws ends its evaluation: the state is destroyed then, and `finishState` is not called for it.
struct AggregateCallbacks {
    std::function<std::any()> makeState;
    std::function<void(std::any& state, const Bindings& arguments)> stepState;
    std::function<std::optional<Binding>(std::any& state)> finishState;
};

} // namespace sqlite
