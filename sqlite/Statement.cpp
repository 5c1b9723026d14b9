#include "sqlite/Statement.h"

#include "sqlite/Connection.h"
#include "sqlite/Fatal.h"
#include "sqlite/Helpers.h"

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

std::optional<Binding> Cursor::valueAt(int index) const
{
    const int type = sqlite3_column_type(handle_, index);
    switch (type) {
    case SQLITE_INTEGER:
        return Binding(sqlite3_column_int64(handle_, index));
    case SQLITE_FLOAT:
        return Binding(sqlite3_column_double(handle_, index));
    case SQLITE_TEXT:
        return Binding(stringAt(index));
    case SQLITE_BLOB:
        return Binding(blobAt(index));
    case SQLITE_NULL:
        return std::nullopt;
    default:
        SQLITE_FATAL(unit, "unsupported column type: " + std::to_string(type));
    }
}

Bindings Cursor::values() const
{
    Bindings row;
    row.reserve(static_cast<std::size_t>(columnCount_));
    for (int i = 0; i < columnCount_; ++i) {
        row.push_back(valueAt(i));
    }
    return row;
}

// Statement -------------------------------------------------------------------------------------------

Statement::Statement(std::shared_ptr<Connection> connection, std::string_view sql) : connection_(std::move(connection))
{
    // Preparing and reading its error belong together under the queue rule, or another thread's error
    // message could be read instead.
    connection_->sync([&] {
        const int code =
            sqlite3_prepare_v2(connection_->handle(), sql.data(), static_cast<int>(sql.size()), &handle_, nullptr);
        if (!Result::isSuccessCode(code)) {
            sqlite3_finalize(handle_);
            handle_ = nullptr;
            Result::check(code, *connection_);
        }
    });
}

Statement::~Statement()
{
    sqlite3_finalize(handle_);
}

Statement& Statement::bind(const Bindings& values)
{
    if (values.empty()) {
        return *this;
    }
    sqlite3_reset(handle_);
    sqlite3_clear_bindings(handle_);
    const int expected = sqlite3_bind_parameter_count(handle_);
    if (static_cast<std::size_t>(expected) != values.size()) {
        SQLITE_FATAL(unit, std::to_string(expected) + " values expected, " + std::to_string(values.size()) + " passed");
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        bindValue(values[i], static_cast<int>(i + 1));
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

void Statement::bindValue(const std::optional<Binding>& value, int index)
{
    int code = SQLITE_OK;
    if (!value) {
        code = sqlite3_bind_null(handle_, index);
    } else if (const auto* blob = std::get_if<Blob>(&*value)) {
        // A zero-length blob, not NULL.
        code = blob->bytes.empty()
                   ? sqlite3_bind_zeroblob(handle_, index, 0)
                   : sqlite3_bind_blob64(handle_, index, blob->bytes.data(), blob->bytes.size(), SQLITE_TRANSIENT);
    } else if (const auto* real = std::get_if<double>(&*value)) {
        code = sqlite3_bind_double(handle_, index, *real);
    } else if (const auto* integer = std::get_if<std::int64_t>(&*value)) {
        code = sqlite3_bind_int64(handle_, index, *integer);
    } else {
        // With its byte length, so a text holding a NUL is stored whole rather than cut short.
        const auto& text = std::get<std::string>(*value);
        code = sqlite3_bind_text64(handle_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    if (code != SQLITE_OK) {
        // A failed bind names its own reason; the connection's message could belong to another thread by now.
        throw Result::error(sqlite3_errstr(code), code);
    }
}

Statement& Statement::runToEnd(const Bindings& values)
{
    if (!values.empty()) {
        bind(values);
    }
    sqlite3_reset(handle_);
    while (step()) {
    }
    return *this;
}

std::optional<Binding> Statement::fetchScalar(const Bindings& values)
{
    if (!values.empty()) {
        bind(values);
    }
    sqlite3_reset(handle_);
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
    return connection_->sync([&] { return Result::check(sqlite3_step(handle_), *connection_) == SQLITE_ROW; });
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
