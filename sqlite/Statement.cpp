#include "sqlite/Statement.h"

#include "sqlite/Connection.h"
#include "sqlite/Fatal.h"
#include "sqlite/QuoteSQL.h"
#include "sqlite/StoredValue.h"

#include <sqlite3.h>

namespace sqlite {

namespace {

constexpr const char* unit = "SQLite/Statement";

} // namespace

// Cursor ----------------------------------------------------------------------------------------------

double Cursor::doubleAt(int index) const
{
    return sqlite3_column_double(handle_, index);
}

std::int64_t Cursor::int64At(int index) const
{
    return sqlite3_column_int64(handle_, index);
}

bool Cursor::boolAt(int index) const
{
    return sqlite3_column_int64(handle_, index) != 0;
}

std::string Cursor::stringAt(int index) const
{
    // The text pointer first, then its length: asking for the length first could convert twice.
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(handle_, index));
    if (text == nullptr) {
        return {};
    }
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(handle_, index)));
}

Blob Cursor::blobAt(int index) const
{
    const void* bytes = sqlite3_column_blob(handle_, index);
    if (bytes == nullptr) {
        return Blob();
    }
    return Blob(bytes, static_cast<std::size_t>(sqlite3_column_bytes(handle_, index)));
}

namespace {

// Holds the connection's SQLite mutex across several column reads. Each column call re-enters it instead
// of locking anew, and the column's value can be read in place: no other thread touches the connection
// meanwhile.
class MutexGuard {
public:
    explicit MutexGuard(sqlite3_mutex* mutex) : mutex_(mutex) { sqlite3_mutex_enter(mutex_); }
    ~MutexGuard() { sqlite3_mutex_leave(mutex_); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    sqlite3_mutex* mutex_;
};

} // namespace

Cursor::Cursor(sqlite3_stmt* handle, int columnCount)
    : handle_(handle), mutex_(handle != nullptr ? sqlite3_db_mutex(sqlite3_db_handle(handle)) : nullptr),
      columnCount_(columnCount)
{}

std::optional<Binding> Cursor::readValue(int index) const
{
    return detail::readStoredValue(sqlite3_column_value(handle_, index));
}

std::optional<Binding> Cursor::valueAt(int index) const
{
    MutexGuard guard(mutex_);
    return readValue(index);
}

Bindings Cursor::values() const
{
    Bindings row;
    row.reserve(static_cast<std::size_t>(columnCount_));
    MutexGuard guard(mutex_);
    for (int i = 0; i < columnCount_; ++i) {
        row.push_back(readValue(i));
    }
    return row;
}

// Statement -------------------------------------------------------------------------------------------

Statement::Statement(std::shared_ptr<Connection> connection, std::string_view sql) : connection_(std::move(connection))
{
    // Preparing and reading its error belong together under the queue rule, or another thread's error
    // message could be read instead.
    // An empty view may carry no pointer at all, which SQLite refuses as misuse without a message of its own;
    // it is the empty text, a statement that runs as nothing.
    const char* text = sql.empty() ? "" : sql.data();
    connection_->sync([&] {
        const int code =
            sqlite3_prepare_v2(connection_->handle(), text, static_cast<int>(sql.size()), &handle_, nullptr);
        if (!Result::isSuccessCode(code)) {
            sqlite3_finalize(handle_);
            handle_ = nullptr;
            Result::check(code, *connection_);
        }
    });
    // Fixed by the SQL text, so it holds for the statement's whole life, also when SQLite prepares it anew
    // after a schema change.
    parameterCount_ = sqlite3_bind_parameter_count(handle_);
}

Statement::~Statement()
{
    sqlite3_finalize(handle_);
}

namespace {

// Kept out of line, so that the per-row callers stay small.
[[noreturn, gnu::cold, gnu::noinline]] void countMismatch(int expected, std::size_t count)
{
    SQLITE_FATAL(unit, std::to_string(expected) + " values expected, " + std::to_string(count) + " passed");
}

} // namespace

void Statement::prepareToBind(std::size_t count)
{
    sqlite3_reset(handle_);
    if (static_cast<std::size_t>(parameterCount_) != count) {
        countMismatch(parameterCount_, count);
    }
}

Statement& Statement::bind(const Bindings& values)
{
    if (values.empty()) {
        return *this;
    }
    // Every parameter gets a new value, so earlier ones need no clearing first; clearing would also make
    // SQLite free and reallocate the buffers of bound texts on every row.
    prepareToBind(values.size());
    try {
        for (std::size_t i = 0; i < values.size(); ++i) {
            bindValue(values[i], static_cast<int>(i + 1));
        }
    } catch (...) {
        resetAndClear();
        throw;
    }
    return *this;
}

Statement& Statement::bindNamed(const NamedBindings& values)
{
    sqlite3_reset(handle_);
    sqlite3_clear_bindings(handle_);
    for (const auto& [name, value] : values) {
        const int index = sqlite3_bind_parameter_index(handle_, name.c_str());
        if (index < 1) {
            SQLITE_FATAL(unit, "parameter not found: " + name);
        }
        bindValue(value, index);
    }
    return *this;
}

namespace {

[[noreturn, gnu::cold, gnu::noinline]] void throwBindError(int code, const Connection& connection)
{
    // A failed bind names its own reason; the connection's message could belong to another thread by now.
    // A bind reports no extended code of its own, so with extended codes on its code is that code.
    if (connection.usesExtendedErrorCodes()) {
        throw Result::extendedError(sqlite3_errstr(code), code);
    }
    throw Result::error(sqlite3_errstr(code), code);
}

void checkBind(int code, const Connection& connection)
{
    if (code != SQLITE_OK) {
        throwBindError(code, connection);
    }
}

} // namespace

void Statement::bindValue(const std::optional<Binding>& value, int index)
{
    if (!value) {
        bindNull(index);
        return;
    }
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Blob>) {
                bindBlob(index, v);
            } else if constexpr (std::is_same_v<T, double>) {
                bindDouble(index, v);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                bindInt64(index, v);
            } else {
                bindText(index, v);
            }
        },
        *value);
}

void Statement::bindNull(int index)
{
    checkBind(sqlite3_bind_null(handle_, index), *connection_);
}

void Statement::bindInt64(int index, std::int64_t value)
{
    checkBind(sqlite3_bind_int64(handle_, index, value), *connection_);
}

void Statement::bindDouble(int index, double value)
{
    checkBind(sqlite3_bind_double(handle_, index, value), *connection_);
}

void Statement::bindText(int index, std::string_view text)
{
    // With its byte length, so a text holding a NUL is stored whole rather than cut short.
    checkBind(sqlite3_bind_text64(handle_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8),
              *connection_);
}

void Statement::bindBlob(int index, const Blob& blob)
{
    checkBind(blob.bytes.empty()
                  ? sqlite3_bind_zeroblob(handle_, index, 0)
                  : sqlite3_bind_blob64(handle_, index, blob.bytes.data(), blob.bytes.size(), SQLITE_TRANSIENT),
              *connection_);
}

Statement& Statement::runToEnd(const Bindings& values)
{
    // Binding resets the statement already; otherwise reset it here, keeping the bound values.
    if (values.empty()) {
        sqlite3_reset(handle_);
    } else {
        bind(values);
    }
    return stepToEnd();
}

Statement& Statement::stepToEnd()
{
    while (step()) {
    }
    return *this;
}

std::optional<Binding> Statement::fetchScalar(const Bindings& values)
{
    if (values.empty()) {
        sqlite3_reset(handle_);
    } else {
        bind(values);
    }
    return readScalar();
}

std::optional<Binding> Statement::readScalar()
{
    if (!step()) {
        return std::nullopt;
    }
    return row().valueAt(0);
}

bool Statement::step()
{
    if (handle_ == nullptr) {
        return false; // text without a statement (only blanks or comments) runs as nothing
    }
    return connection_->sync([&] {
        const int code = sqlite3_step(handle_);
        if (code != SQLITE_ROW && code != SQLITE_DONE) {
            Result::check(code, *connection_); // throws for an error; its message is read under the queue too
        }
        return code == SQLITE_ROW;
    });
}

Statement& Statement::reset()
{
    sqlite3_reset(handle_);
    return *this;
}

void Statement::resetAndClear()
{
    sqlite3_reset(handle_);
    sqlite3_clear_bindings(handle_);
}

std::optional<Bindings> Statement::failableNext()
{
    if (!step()) {
        return std::nullopt;
    }
    return row().values();
}

std::optional<Bindings> Statement::next()
{
    try {
        return failableNext();
    } catch (const Result&) {
        return std::nullopt;
    }
}

std::vector<Bindings> Statement::fetchAllRows()
{
    sqlite3_reset(handle_);
    std::vector<Bindings> rows;
    while (auto row = next()) {
        rows.push_back(std::move(*row));
    }
    return rows;
}

int Statement::columnCount() const
{
    if (!columnCount_) {
        columnCount_ = sqlite3_column_count(handle_);
    }
    return *columnCount_;
}

const std::vector<std::string>& Statement::columnNames() const
{
    if (!columnNames_) {
        std::vector<std::string> names;
        const int count = columnCount();
        names.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(handle_, i);
            names.emplace_back(name != nullptr ? name : "");
        }
        columnNames_ = std::move(names);
    }
    return *columnNames_;
}

std::unordered_map<std::string, int> Statement::quotedColumnIndexes() const
{
    std::unordered_map<std::string, int> indexes;
    const auto& names = columnNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        indexes[quoteSQL(names[i])] = static_cast<int>(i);
    }
    return indexes;
}

const Cursor& Statement::row() const
{
    if (!row_) {
        row_.emplace(handle_, columnCount());
    }
    return *row_;
}

std::string Statement::sql() const
{
    const char* text = sqlite3_sql(handle_);
    return text != nullptr ? text : "";
}

Statement::Iterator::Iterator(Statement* statement) : statement_(statement)
{
    ++*this;
}

Statement::Iterator& Statement::Iterator::operator++()
{
    row_ = statement_->next();
    if (!row_) {
        statement_ = nullptr;
    }
    return *this;
}

Statement::Iterator Statement::begin()
{
    sqlite3_reset(handle_);
    return Iterator(this);
}

} // namespace sqlite
