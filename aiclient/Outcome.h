#pragma once

#include <exception>
#include <utility>
#include <variant>

namespace aiclient {

/// What a completion callback receives: the operation's value, or the error that ended it.
/// The error is kept as thrown (a transport error, `OpenAIError`, `APIErrorResponse`, a decoding error, …) so a
/// caller can rethrow it and catch it by its own type.
template <class T> class Outcome {
public:
    static Outcome success(T value) { return Outcome(std::move(value)); }
    static Outcome failure(std::exception_ptr error) { return Outcome(std::move(error)); }

    bool ok() const { return std::holds_alternative<T>(state_); }
    /// The value; only valid when `ok()`.
    const T& value() const& { return std::get<T>(state_); }
    T&& value() && { return std::get<T>(std::move(state_)); }
    /// The error; null when `ok()`.
    std::exception_ptr error() const
    {
        const auto* error = std::get_if<std::exception_ptr>(&state_);
        return error ? *error : nullptr;
    }
    /// The value, or the error rethrown.
    T get() &&
    {
        if (auto* error = std::get_if<std::exception_ptr>(&state_)) {
            std::rethrow_exception(*error);
        }
        return std::get<T>(std::move(state_));
    }

private:
    explicit Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    explicit Outcome(std::exception_ptr error) : state_(std::in_place_index<1>, std::move(error)) {}
    std::variant<T, std::exception_ptr> state_;
};

} // namespace aiclient
