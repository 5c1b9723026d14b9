#include "sqlite/Connection.h"
#include "sqlite/Fatal.h"
#include "sqlite/FunctionValues.h"

#include <sqlite3.h>

namespace sqlite {

namespace {

constexpr const char* unit = "SQLite/Connection";

// SQLite's aggregate context of each evaluation is one zero-filled pointer slot; it holds the address of
// that evaluation's state cell, made on the first row (or at the end for a group without rows).
std::any** stateSlot(sqlite3_context* context)
{
    void* slot = sqlite3_aggregate_context(context, sizeof(std::any*));
    if (slot == nullptr) {
        SQLITE_FATAL(unit, "Could not get aggregate context");
    }
    return static_cast<std::any**>(slot);
}

// Marks an evaluation whose step failed. Its state is gone (a value state is moved into `reduce`, which threw),
// and the statement fails with the step's error, so there is no result to compute from it.
std::any* failedState()
{
    static std::any marker;
    return &marker;
}

void stepTrampoline(sqlite3_context* context, int count, sqlite3_value** values)
{
    const auto& callbacks = *static_cast<const AggregateCallbacks*>(sqlite3_user_data(context));
    std::any** slot = stateSlot(context);
    if (*slot == failedState()) {
        return;
    }
    try {
        const Bindings arguments = detail::functionArguments(count, values);
        if (*slot == nullptr) {
            *slot = new std::any(callbacks.makeState());
        }
        callbacks.stepState(**slot, arguments);
    } catch (...) {
        detail::setFunctionError(context);
        delete *slot;
        *slot = failedState();
    }
}

// SQLite calls the final exactly once per evaluation, also when a step failed or the statement was reset
// early, so the cell is always freed here (or already by the step that failed).
void finalTrampoline(sqlite3_context* context)
{
    const auto& callbacks = *static_cast<const AggregateCallbacks*>(sqlite3_user_data(context));
    std::any** slot = stateSlot(context);
    if (*slot == failedState()) {
        *slot = nullptr;
        sqlite3_result_null(context);
        return;
    }
    std::unique_ptr<std::any> cell(*slot);
    *slot = nullptr;
    try {
        if (!cell) {
            cell = std::make_unique<std::any>(callbacks.makeState());
        }
        detail::setFunctionResult(context, callbacks.finishState(*cell));
    } catch (...) {
        detail::setFunctionError(context);
    }
}

void destroyCallbacks(void* callbacks)
{
    delete static_cast<AggregateCallbacks*>(callbacks);
}

} // namespace

void Connection::registerAggregateCallbacks(std::string_view name, std::optional<std::int64_t> argumentCount,
                                            bool deterministic, AggregateCallbacks callbacks)
{
    const int count = detail::functionArgumentCount(argumentCount);
    const int flags = deterministic ? (SQLITE_UTF8 | SQLITE_DETERMINISTIC) : SQLITE_UTF8;
    const std::string text(name);
    sync([&] {
        // Owned by SQLite from here on, like a scalar function: destroyed on replacement or close, and on a
        // refused registration.
        auto* object = new AggregateCallbacks(std::move(callbacks));
        const int code = sqlite3_create_function_v2(handle_, text.c_str(), count, flags, object, nullptr,
                                                    &stepTrampoline, &finalTrampoline, &destroyCallbacks);
        detail::checkFunctionRegistration(code, *this);
    });
}

} // namespace sqlite
