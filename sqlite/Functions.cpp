#include "sqlite/Connection.h"
#include "sqlite/Errors.h"
#include "sqlite/Fatal.h"
#include "sqlite/FunctionValues.h"
#include "sqlite/StoredValue.h"

#include <climits>
#include <new>
#include <sqlite3.h>

namespace sqlite {

namespace {

constexpr const char* unit = "SQLite/Connection";

struct ScalarFunction {
    Connection::FunctionCallback callback;
};

void scalarTrampoline(sqlite3_context* context, int count, sqlite3_value** values)
{
    const auto& function = *static_cast<const ScalarFunction*>(sqlite3_user_data(context));
    try {
        detail::setFunctionResult(context, function.callback(detail::functionArguments(count, values)));
    } catch (...) {
        detail::setFunctionError(context);
    }
}

template <class T> void destroy(void* pointer)
{
    delete static_cast<T*>(pointer);
}

int collationTrampoline(void* argument, int leftLength, const void* left, int rightLength, const void* right)
{
    if (left == nullptr || right == nullptr) {
        SQLITE_FATAL(unit, "sqlite3_create_collation_v2 callback called with NULL pointer");
    }
    const auto& callback = *static_cast<const Connection::CollationCallback*>(argument);
    try {
        const std::weak_ordering order =
            callback(std::string_view(static_cast<const char*>(left), static_cast<std::size_t>(leftLength)),
                     std::string_view(static_cast<const char*>(right), static_cast<std::size_t>(rightLength)));
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    } catch (...) {
        // A comparison has no way to report an error to SQLite.
        return 0;
    }
}

} // namespace

namespace detail {

Bindings functionArguments(int count, sqlite3_value** values)
{
    Bindings arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(readStoredValue(values[i]));
    }
    return arguments;
}

void setFunctionResult(sqlite3_context* context, const std::optional<Binding>& result)
{
    if (!result) {
        sqlite3_result_null(context);
        return;
    }
    if (const auto* integer = std::get_if<std::int64_t>(&*result)) {
        sqlite3_result_int64(context, *integer);
    } else if (const auto* real = std::get_if<double>(&*result)) {
        sqlite3_result_double(context, *real);
    } else if (const auto* text = std::get_if<std::string>(&*result)) {
        if (text->size() > static_cast<std::size_t>(INT_MAX)) {
            sqlite3_result_error_toobig(context);
            return;
        }
        sqlite3_result_text(context, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    } else {
        const auto& bytes = std::get<Blob>(*result).bytes;
        if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
            sqlite3_result_error_toobig(context);
            return;
        }
        // An empty vector may have no data pointer, and SQLite takes a null pointer for NULL.
        static const std::uint8_t none = 0;
        sqlite3_result_blob(context, bytes.empty() ? &none : bytes.data(), static_cast<int>(bytes.size()),
                            SQLITE_TRANSIENT);
    }
}

void setFunctionError(sqlite3_context* context) noexcept
{
    try {
        throw;
    } catch (const Result& error) {
        // The message alone: the outer statement's error adds its own code to the description.
        sqlite3_result_error(context, error.message().c_str(), static_cast<int>(error.message().size()));
        sqlite3_result_error_code(context, error.code() != 0 ? error.code() : SQLITE_ERROR);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(context);
    } catch (const std::exception& error) {
        sqlite3_result_error(context, error.what(), -1);
    } catch (...) {
        sqlite3_result_error(context, "unknown error in a registered function", -1);
    }
}

int functionArgumentCount(std::optional<std::int64_t> argumentCount)
{
    if (!argumentCount) {
        return -1;
    }
    if (*argumentCount < 0 || *argumentCount > INT_MAX) {
        SQLITE_FATAL(unit, "invalid argument count: " + std::to_string(*argumentCount));
    }
    return static_cast<int>(*argumentCount);
}

void checkFunctionRegistration(int code, const Connection& connection)
{
    try {
        Result::check(code, connection);
    } catch (const Result& error) {
        SQLITE_FATAL(unit, "Error creating function: " + error.description());
    }
}

} // namespace detail

// Each registration hands SQLite a heap object and a destructor for it. SQLite destroys it when the function
// or collation is registered again under the same name (and count), or when the connection closes, so a
// callback lives exactly as long as it is registered. A replacement while a statement of the connection is
// running is refused by SQLite, so a callback is never destroyed while it runs.

void Connection::createFunction(std::string_view name, std::optional<std::int64_t> argumentCount, bool deterministic,
                                FunctionCallback callback)
{
    const int count = detail::functionArgumentCount(argumentCount);
    const int flags = deterministic ? (SQLITE_UTF8 | SQLITE_DETERMINISTIC) : SQLITE_UTF8;
    const std::string text(name);
    sync([&] {
        // On failure SQLite destroys the object itself.
        auto* function = new ScalarFunction{std::move(callback)};
        const int code = sqlite3_create_function_v2(handle_, text.c_str(), count, flags, function, &scalarTrampoline,
                                                    nullptr, nullptr, &destroy<ScalarFunction>);
        detail::checkFunctionRegistration(code, *this);
    });
}

void Connection::createCollation(std::string_view name, CollationCallback callback)
{
    const std::string text(name);
    sync([&] {
        auto collation = std::make_unique<CollationCallback>(std::move(callback));
        const int code = sqlite3_create_collation_v2(handle_, text.c_str(), SQLITE_UTF8, collation.get(),
                                                     &collationTrampoline, &destroy<CollationCallback>);
        // Unlike functions, a refused collation's object is not destroyed by SQLite: the unique_ptr keeps it.
        Result::check(code, *this);
        collation.release();
    });
}

} // namespace sqlite
