#include "sqlite/Connection.h"

#include "sqlite/Fatal.h"
#include "sqlite/QuoteSQL.h"

#include <cmath>
#include <sqlite3.h>

namespace sqlite {

namespace {

constexpr const char* unit = "SQLite/Connection";

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Percent-encodes every byte except the unreserved ones and those in `keep`. SQLite decodes %HH in both
// the path and the query of a file URI.
std::string percentEncode(std::string_view text, std::string_view keep)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (unsigned char c : text) {
        if (isUnreserved(c) || keep.find(static_cast<char>(c)) != std::string_view::npos) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0xf];
        }
    }
    return encoded;
}

// Runs a callback of the caller inside a SQLite callback: nothing may be thrown through SQLite's C frames.
template <class Work, class Fallback> auto shielded(Work&& work, Fallback fallback) noexcept
{
    try {
        return work();
    } catch (...) {
        return fallback;
    }
}

int busyTrampoline(void* argument, int tries)
{
    auto& handler = *static_cast<Connection::BusyHandler*>(argument);
    return shielded([&] { return handler(tries) ? 1 : 0; }, 0);
}

int traceTrampoline(unsigned /*event*/, void* argument, void* statement, void* /*detail*/)
{
    if (statement == nullptr) {
        return 0;
    }
    std::unique_ptr<char, decltype(&sqlite3_free)> sql(sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement)),
                                                       &sqlite3_free);
    if (!sql) {
        return 0;
    }
    auto& callback = *static_cast<Connection::TraceCallback*>(argument);
    shielded(
        [&] {
            callback(std::string(sql.get()));
            return 0;
        },
        0);
    return 0;
}

void updateTrampoline(void* argument, int code, const char* database, const char* table, sqlite3_int64 rowid)
{
    if (database == nullptr || table == nullptr) {
        return;
    }
    const Connection::Operation operation = Connection::operationFromCode(code);
    auto& hook = *static_cast<Connection::UpdateHook*>(argument);
    shielded(
        [&] {
            hook(operation, database, table, rowid);
            return 0;
        },
        0);
}

int commitTrampoline(void* argument)
{
    auto& hook = *static_cast<Connection::CommitHook*>(argument);
    // Non-zero turns the commit into a rollback.
    return shielded(
        [&] {
            hook();
            return 0;
        },
        1);
}

void rollbackTrampoline(void* argument)
{
    auto& hook = *static_cast<Connection::RollbackHook*>(argument);
    shielded(
        [&] {
            hook();
            return 0;
        },
        0);
}

} // namespace

// Location --------------------------------------------------------------------------------------------

std::string Connection::Location::fileName() const
{
    switch (kind_) {
    case Kind::inMemory:
        return ":memory:";
    case Kind::temporary:
        return "";
    case Kind::uri:
        break;
    }
    if (parameters_.empty()) {
        return text_;
    }
    std::string items;
    for (const auto& parameter : parameters_) {
        const auto item = parameter.queryItem();
        if (!items.empty()) {
            items += '&';
        }
        items += percentEncode(item.name, "/:");
        if (item.value) {
            items += '=' + percentEncode(*item.value, "/:");
        }
    }
    if (text_.starts_with("file:")) {
        // A URI already: keep its own query items, add ours after them, keep any fragment at the end.
        const std::size_t hash = text_.find('#');
        std::string base = text_.substr(0, hash);
        const std::string fragment = hash == std::string::npos ? "" : text_.substr(hash);
        const std::size_t question = base.find('?');
        if (question == std::string::npos) {
            base += '?';
        } else if (base.back() != '?' && base.back() != '&') {
            base += '&';
        }
        return base + items + fragment;
    }
    // A path. An absolute one gets the empty authority ("file:///…"), so that a path beginning "//" is not
    // taken for a host name.
    const std::string path = percentEncode(text_, "/");
    return (text_.starts_with('/') ? "file://" : "file:") + path + "?" + items;
}

// Opening and closing ---------------------------------------------------------------------------------

Connection::Connection(Passkey)
{}

Connection::~Connection()
{
    sqlite3_close(handle_);
}

std::shared_ptr<Connection> Connection::open(const Location& location, bool readonly)
{
    auto connection = std::make_shared<Connection>(Passkey{});
    const std::string fileName = location.fileName();
    const int flags = readonly ? (SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX)
                               : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX);
    const int code = sqlite3_open_v2(fileName.c_str(), &connection->handle_, flags, nullptr);
    if (!Result::isSuccessCode(code)) {
        // The handle SQLite hands back even on failure is closed with the connection.
        throw Result::error(connection->handle_ != nullptr ? sqlite3_errmsg(connection->handle_) : sqlite3_errstr(code),
                            code);
    }
    connection->queueMutex_ = sqlite3_db_mutex(connection->handle_);
    return connection;
}

std::shared_ptr<Connection> Connection::openPath(std::string fileName, bool readonly)
{
    return open(Location::uri(std::move(fileName)), readonly);
}

void Connection::lockQueue()
{
    if (queueMutex_ != nullptr) {
        sqlite3_mutex_enter(queueMutex_);
    } else {
        fallbackQueue_.lock();
    }
}

void Connection::unlockQueue()
{
    if (queueMutex_ != nullptr) {
        sqlite3_mutex_leave(queueMutex_);
    } else {
        fallbackQueue_.unlock();
    }
}

void Connection::setUsesExtendedErrorCodes(bool on)
{
    usesExtendedErrorCodes_.store(on, std::memory_order_relaxed);
    sqlite3_extended_result_codes(handle_, on ? 1 : 0);
}

// The queue rule --------------------------------------------------------------------------------------

// Running SQL -----------------------------------------------------------------------------------------

void Connection::executeScript(std::string_view sql)
{
    // sqlite3_exec reads a C string: a NUL inside the script would end it there and the rest would be
    // skipped while the call reports success.
    if (sql.find('\0') != std::string_view::npos) {
        throw Result::error("SQL script contains a NUL character", SQLITE_ERROR);
    }
    const std::string text(sql);
    sync([&] { Result::check(sqlite3_exec(handle_, text.c_str(), nullptr, nullptr, nullptr), *this); });
}

std::shared_ptr<Statement> Connection::prepare(std::string_view sql, const Bindings& values)
{
    auto statement = std::make_shared<Statement>(shared_from_this(), sql);
    statement->bind(values);
    return statement;
}

std::shared_ptr<Statement> Connection::prepare(std::string_view sql, const NamedBindings& values)
{
    auto statement = std::make_shared<Statement>(shared_from_this(), sql);
    statement->bindNamed(values);
    return statement;
}

std::shared_ptr<Statement> Connection::runStatement(std::string_view sql, const Bindings& values)
{
    auto statement = prepare(sql, values);
    statement->runToEnd();
    return statement;
}

std::shared_ptr<Statement> Connection::runStatement(std::string_view sql, const NamedBindings& values)
{
    auto statement = prepare(sql, values);
    statement->runToEnd();
    return statement;
}

std::optional<Binding> Connection::scalar(std::string_view sql, const Bindings& values)
{
    return prepare(sql, values)->fetchScalar();
}

std::optional<Binding> Connection::scalar(std::string_view sql, const NamedBindings& values)
{
    return prepare(sql, values)->fetchScalar();
}

std::int64_t Connection::lastInsertRowid() const
{
    return sqlite3_last_insert_rowid(handle_);
}

int Connection::changes() const
{
    return sqlite3_changes(handle_);
}

int Connection::totalChanges() const
{
    return sqlite3_total_changes(handle_);
}

bool Connection::readonly() const
{
    return sqlite3_db_readonly(handle_, "main") == 1;
}

std::string Connection::description() const
{
    const char* name = sqlite3_db_filename(handle_, "main");
    return name != nullptr ? name : "";
}

// Transactions and savepoints -------------------------------------------------------------------------

void Connection::runGuarded(const std::string& begin, const std::string& commit, const std::string& rollback,
                            bool releaseAfterRollback, const std::function<void()>& block)
{
    sync([&] {
        // A savepoint outside any transaction opens one; if it fails, the rollback alone would leave it open.
        const bool opensTransaction = releaseAfterRollback && sqlite3_get_autocommit(handle_) != 0;
        runStatement(begin);
        try {
            block();
            runStatement(commit);
        } catch (...) {
            // SQLite may have ended the transaction itself (a commit hook that refused, a statement with
            // ON CONFLICT ROLLBACK); a rollback then would only fail and hide the real error.
            if (sqlite3_get_autocommit(handle_) == 0) {
                runStatement(rollback);
                if (opensTransaction) {
                    runStatement(commit);
                }
            }
            throw;
        }
    });
}

void Connection::transaction(TransactionMode mode, const std::function<void()>& block)
{
    runGuarded("BEGIN " + std::string(toText(mode)) + " TRANSACTION", "COMMIT TRANSACTION", "ROLLBACK TRANSACTION",
               false, block);
}

void Connection::savepoint(std::string_view name, const std::function<void()>& block)
{
    const std::string begin = "SAVEPOINT " + quoteSQL(name, '\'');
    runGuarded(begin, "RELEASE " + begin, "ROLLBACK TO " + begin, true, block);
}

void Connection::interrupt()
{
    sqlite3_interrupt(handle_);
}

// Busy handling, trace and hooks ----------------------------------------------------------------------
// Each new callback is registered with SQLite first, then stored, and only then is the old one released,
// so SQLite never holds a pointer to a callback that is gone.

void Connection::setBusyTimeout(double seconds)
{
    const double milliseconds = seconds * 1000;
    if (!std::isfinite(milliseconds) || milliseconds <= -2147483649.0 || milliseconds >= 2147483648.0) {
        SQLITE_FATAL(unit, "busy timeout out of range: " + std::to_string(seconds));
    }
    sync([&] {
        busyTimeout_ = seconds;
        sqlite3_busy_timeout(handle_, static_cast<int>(milliseconds));
    });
}

template <class Callback, class Register>
void Connection::replaceCallback(std::unique_ptr<Callback>& field, Callback callback, Register registerWithSqlite)
{
    // Taking the queue afresh means no callback of this connection runs now; when it is held already, the
    // caller may be that very callback, so the old one is kept until the next replacement from outside.
    const bool insideCallback = holdsQueue();
    sync([&] {
        if (!insideCallback) {
            retiredCallbacks_.clear();
        }
        auto fresh = callback ? std::make_unique<Callback>(std::move(callback)) : nullptr;
        registerWithSqlite(fresh.get());
        field.swap(fresh);
        if (insideCallback && fresh) {
            retiredCallbacks_.push_back(std::shared_ptr<void>(std::move(fresh)));
        }
    });
}

void Connection::setBusyHandler(BusyHandler handler)
{
    replaceCallback(busyHandler_, std::move(handler), [this](BusyHandler* fresh) {
        sqlite3_busy_handler(handle_, fresh ? &busyTrampoline : nullptr, fresh);
    });
}

void Connection::setTrace(TraceCallback callback)
{
    replaceCallback(trace_, std::move(callback), [this](TraceCallback* fresh) {
        sqlite3_trace_v2(handle_, fresh ? SQLITE_TRACE_STMT : 0, fresh ? &traceTrampoline : nullptr, fresh);
    });
}

void Connection::setUpdateHook(UpdateHook hook)
{
    replaceCallback(updateHook_, std::move(hook), [this](UpdateHook* fresh) {
        sqlite3_update_hook(handle_, fresh ? &updateTrampoline : nullptr, fresh);
    });
}

void Connection::setCommitHook(CommitHook hook)
{
    replaceCallback(commitHook_, std::move(hook), [this](CommitHook* fresh) {
        sqlite3_commit_hook(handle_, fresh ? &commitTrampoline : nullptr, fresh);
    });
}

void Connection::setRollbackHook(RollbackHook hook)
{
    replaceCallback(rollbackHook_, std::move(hook), [this](RollbackHook* fresh) {
        sqlite3_rollback_hook(handle_, fresh ? &rollbackTrampoline : nullptr, fresh);
    });
}

Connection::Operation Connection::operationFromCode(int code)
{
    switch (code) {
    case SQLITE_INSERT:
        return Operation::insert;
    case SQLITE_UPDATE:
        return Operation::update;
    case SQLITE_DELETE:
        return Operation::delete_;
    default:
        SQLITE_FATAL(unit, "unhandled operation code: " + std::to_string(code));
    }
}

// Pragmas, attached databases, version ----------------------------------------------------------------

std::optional<std::int32_t> Connection::userVersion()
{
    try {
        const auto value = scalar("PRAGMA user_version");
        if (value && std::holds_alternative<std::int64_t>(*value)) {
            return static_cast<std::int32_t>(std::get<std::int64_t>(*value));
        }
    } catch (const Result&) {
    }
    return std::nullopt;
}

void Connection::setUserVersion(std::optional<std::int32_t> version)
{
    try {
        runStatement("PRAGMA user_version = " + std::to_string(version.value_or(0)));
    } catch (const Result&) {
    }
}

bool Connection::readBooleanPragma(std::string_view name)
{
    try {
        const auto value = scalar("PRAGMA " + std::string(name));
        return value && *value == Binding(std::int64_t{1});
    } catch (const Result&) {
        return false;
    }
}

void Connection::writeBooleanPragma(std::string_view name, bool on)
{
    try {
        runStatement("PRAGMA " + std::string(name) + (on ? " = 1" : " = 0"));
    } catch (const Result&) {
    }
}

bool Connection::foreignKeys()
{
    return readBooleanPragma("foreign_keys");
}

void Connection::setForeignKeys(bool on)
{
    writeBooleanPragma("foreign_keys", on);
}

bool Connection::deferForeignKeys()
{
    return readBooleanPragma("defer_foreign_keys");
}

void Connection::setDeferForeignKeys(bool on)
{
    writeBooleanPragma("defer_foreign_keys", on);
}

SQLiteVersion Connection::sqliteVersion()
{
    try {
        const auto value = scalar("SELECT sqlite_version()");
        if (value && std::holds_alternative<std::string>(*value)) {
            return SQLiteVersion::parse(std::get<std::string>(*value));
        }
    } catch (const Result&) {
    }
    return SQLiteVersion::zero();
}

void Connection::attach(const Location& location, std::string_view schemaName)
{
    runStatement("ATTACH DATABASE ? AS ?", location.fileName(), schemaName);
}

void Connection::detach(std::string_view schemaName)
{
    runStatement("DETACH DATABASE ?", schemaName);
}

// Transaction modes -----------------------------------------------------------------------------------

std::string_view toText(Connection::TransactionMode mode)
{
    switch (mode) {
    case Connection::TransactionMode::deferred:
        return "DEFERRED";
    case Connection::TransactionMode::immediate:
        return "IMMEDIATE";
    case Connection::TransactionMode::exclusive:
        return "EXCLUSIVE";
    }
    return {};
}

std::optional<Connection::TransactionMode> transactionModeFromText(std::string_view text)
{
    using Mode = Connection::TransactionMode;
    for (Mode mode : {Mode::deferred, Mode::immediate, Mode::exclusive}) {
        if (toText(mode) == text) {
            return mode;
        }
    }
    return std::nullopt;
}

} // namespace sqlite
