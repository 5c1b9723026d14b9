#pragma once

#include "sqlite/AggregateCallbacks.h"
#include "sqlite/Backup.h"
#include "sqlite/SQLiteVersion.h"
#include "sqlite/Statement.h"
#include "sqlite/URIQueryParameter.h"
#include "sqlite/Value.h"

#include <any>
#include <atomic>
#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_mutex;

namespace sqlite {

class QueryType;
class SchemaReader;
struct ForeignKeyError;
class Row;
class RowIterator;
class Insert;
class Update;
class Delete;
template <class T> class ScalarQuery;
template <class T> class Select;

/// One open SQLite database handle. Every use of the handle while SQL runs follows the queue rule (`sync`):
/// statements of one connection never run at the same time on two threads, and a callback that already runs
/// on the connection (a transaction body, a hook, a registered function) runs its statements inline.
/// Shared by every statement that it prepares; the handle is closed when the last holder lets go.
class Connection : public std::enable_shared_from_this<Connection> {
    struct Passkey {};
    template <class T> struct IsSharedPointer : std::false_type {};
    template <class T> struct IsSharedPointer<std::shared_ptr<T>> : std::true_type {};

public:
    /// What to open: ":memory:", a private temporary database (""), or a path or "file:" URI with parameters.
    class Location {
    public:
        enum class Kind { inMemory, temporary, uri };

        static Location inMemory() { return Location(Kind::inMemory, {}, {}); }
        static Location temporary() { return Location(Kind::temporary, {}, {}); }
        static Location uri(std::string text, std::vector<URIQueryParameter> parameters = {})
        {
            return Location(Kind::uri, std::move(text), std::move(parameters));
        }

        Kind kind() const { return kind_; }
        const std::string& text() const { return text_; }
        const std::vector<URIQueryParameter>& parameters() const { return parameters_; }

        /// The file name handed to SQLite. Without parameters a `uri` text is passed unchanged. With
        /// parameters, a text beginning "file:" keeps its own query items and gets the parameters after them;
        /// any other text is a path, percent-encoded into a "file:" URI, so that a blank, "#" or "?" in it
        /// neither drops the parameters nor names another file.
        std::string fileName() const;
        std::string description() const { return fileName(); }

    private:
        Location(Kind kind, std::string text, std::vector<URIQueryParameter> parameters)
            : kind_(kind), text_(std::move(text)), parameters_(std::move(parameters))
        {}
        Kind kind_;
        std::string text_;
        std::vector<URIQueryParameter> parameters_;
    };

    enum class TransactionMode { deferred, immediate, exclusive };
    /// The row change that the update hook reports.
    enum class Operation { insert, update, delete_ };

    using BusyHandler = std::function<bool(int tries)>;
    using TraceCallback = std::function<void(const std::string& sql)>;
    using UpdateHook =
        std::function<void(Operation, std::string_view database, std::string_view table, std::int64_t rowid)>;
    /// Throwing from a commit hook turns the commit into a rollback.
    using CommitHook = std::function<void()>;
    using RollbackHook = std::function<void()>;

    /// Opens the database that `location` names; URI file names are always understood, and the file is
    /// created when missing unless `readonly`. Throws `Result` when it cannot be opened.
    static std::shared_ptr<Connection> open(const Location& location, bool readonly = false);
    /// Opens a plain file path (or URI), passed to SQLite unchanged.
    static std::shared_ptr<Connection> openPath(std::string fileName, bool readonly = false);

    explicit Connection(Passkey);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Errors -----------------------------------------------------------------------------------------

    bool usesExtendedErrorCodes() const { return usesExtendedErrorCodes_.load(std::memory_order_relaxed); }
    /// When on, errors carry SQLite's extended result code.
    void setUsesExtendedErrorCodes(bool on);

    // Running SQL ------------------------------------------------------------------------------------

    /// Runs every statement of `sql` in turn; the first failure stops the script and throws `Result`
    /// (the statements before it stay executed).
    void executeScript(std::string_view sql);

    /// Prepares the first statement of `sql` and binds `values` by position (an empty list binds nothing).
    std::shared_ptr<Statement> prepare(std::string_view sql, const Bindings& values = {});
    std::shared_ptr<Statement> prepare(std::string_view sql, const NamedBindings& values);
    template <Bindable... Args>
    requires(sizeof...(Args) > 0) std::shared_ptr<Statement> prepare(std::string_view sql, const Args&... values)
    {
        auto statement = prepare(sql);
        statement->bind(values...);
        return statement;
    }

    /// Prepares, binds and runs the statement to its end. Throws `Result`.
    std::shared_ptr<Statement> runStatement(std::string_view sql, const Bindings& values = {});
    std::shared_ptr<Statement> runStatement(std::string_view sql, const NamedBindings& values);
    template <Bindable... Args>
    requires(sizeof...(Args) > 0) std::shared_ptr<Statement> runStatement(std::string_view sql, const Args&... values)
    {
        auto statement = prepare(sql, values...);
        statement->runToEnd();
        return statement;
    }

    std::shared_ptr<Statement> vacuum() { return runStatement("VACUUM"); }

    /// Column 0 of the first row; none when there is no row or the value is NULL. Throws `Result`.
    std::optional<Binding> scalar(std::string_view sql, const Bindings& values = {});
    std::optional<Binding> scalar(std::string_view sql, const NamedBindings& values);
    template <Bindable... Args>
    requires(sizeof...(Args) > 0) std::optional<Binding> scalar(std::string_view sql, const Args&... values)
    {
        return prepare(sql, values...)->fetchScalar();
    }

    // Counters and flags: read directly, without the queue --------------------------------------------

    std::int64_t lastInsertRowid() const;
    int changes() const;
    int totalChanges() const;
    /// True when the main database is read-only.
    bool readonly() const;
    /// The main database's file name.
    std::string description() const;

    // Transactions and savepoints ----------------------------------------------------------------------

    /// Runs `block` between "BEGIN <mode> TRANSACTION" and "COMMIT TRANSACTION", all of it under the queue
    /// rule. When `block` throws or the commit fails, the transaction is rolled back (unless SQLite has
    /// already ended it) and the original error is rethrown; a failing rollback throws its own error.
    void transaction(TransactionMode mode, const std::function<void()>& block);
    void transaction(const std::function<void()>& block) { transaction(TransactionMode::deferred, block); }

    /// Runs `block` between "SAVEPOINT 'name'" and "RELEASE SAVEPOINT 'name'"; on failure rolls back to
    /// the savepoint. A savepoint that opened the transaction itself is also released after the rollback,
    /// so that no transaction stays open.
    void savepoint(std::string_view name, const std::function<void()>& block);

    /// Stops the statement that runs now at its next opportunity. Callable from any thread; takes no lock.
    void interrupt();

    // Busy handling, trace and hooks -----------------------------------------------------------------

    double busyTimeout() const { return busyTimeout_; }
    /// Waits up to `seconds` for a locked database. Fatal when seconds × 1000 does not fit a 32-bit integer.
    void setBusyTimeout(double seconds);
    void setBusyHandler(BusyHandler handler);
    /// Called with the text of each statement as it starts, bound values written in.
    void setTrace(TraceCallback callback);
    void setUpdateHook(UpdateHook hook);
    void setCommitHook(CommitHook hook);
    void setRollbackHook(RollbackHook hook);

    // Pragmas, attached databases, version -------------------------------------------------------------

    /// "PRAGMA user_version"; none when it cannot be read.
    std::optional<std::int32_t> userVersion();
    /// Writes the user version (0 for none). A failed write is ignored: read it back to be sure.
    void setUserVersion(std::optional<std::int32_t> version);
    bool foreignKeys();
    void setForeignKeys(bool on);
    bool deferForeignKeys();
    void setDeferForeignKeys(bool on);
    /// The SQLite library's version; 0.0.0 when it cannot be read.
    SQLiteVersion sqliteVersion();
    /// "ATTACH DATABASE ? AS ?". Throws `Result`.
    void attach(const Location& location, std::string_view schemaName);
    /// "DETACH DATABASE ?". Throws `Result`.
    void detach(std::string_view schemaName);

    // Functions, aggregates and collations -------------------------------------------------------------
    // A registered callback lives until it is registered again under the same name (and argument count) or
    // the connection closes. It runs inside a step, under the queue rule, so the statements it runs on this
    // connection run inline. An exception thrown by a function or aggregate callback becomes SQLite's error
    // for that call, and so the error of the statement that called it. Capture the connection weakly (or not
    // at all): a callback holding it strongly keeps it open forever.

    /// A scalar SQL function: the arguments (none for NULL) to the result (none gives NULL).
    using FunctionCallback = std::function<std::optional<Binding>(const Bindings& arguments)>;
    /// A collating sequence over two UTF-8 texts.
    using CollationCallback = std::function<std::weak_ordering(std::string_view, std::string_view)>;

    /// Registers `name` for `argumentCount` arguments (none: any number). Registering the same name and count
    /// again replaces the callback. Fatal when the count is negative or above 2^31 - 1, or SQLite refuses the
    /// registration (a name too long, too many arguments, a replacement while statements are running).
    void createFunction(std::string_view name, std::optional<std::int64_t> argumentCount, bool deterministic,
                        FunctionCallback callback);
    /// Registers a collating sequence used by "COLLATE name". A throwing callback compares as equal.
    /// Throws `Result` when SQLite refuses it.
    void createCollation(std::string_view name, CollationCallback callback);

    /// An aggregate whose state is a value: every group starts from a copy of `initialValue`, and `reduce`
    /// returns the next state from the current one and one row's arguments. The state is moved into `reduce`:
    /// when it throws, the statement fails with its error and `result` is not called for that group.
    template <class State>
    requires(std::is_copy_constructible_v<State> && !IsSharedPointer<State>::value) void registerAggregate(
        std::string_view name, std::optional<std::int64_t> argumentCount, bool deterministic, State initialValue,
        std::function<State(State, const Bindings&)> reduce, std::function<std::optional<Binding>(const State&)> result)
    {
        registerAggregateCallbacks(
            name, argumentCount, deterministic,
            AggregateCallbacks{
                [initialValue = std::move(initialValue)] { return std::any(initialValue); },
                [reduce = std::move(reduce)](std::any& state, const Bindings& arguments) {
                    State& current = std::any_cast<State&>(state);
                    current = reduce(std::move(current), arguments);
                },
                [result = std::move(result)](std::any& state) { return result(std::any_cast<State&>(state)); }});
    }

    /// An aggregate whose state is a shared object. Every group starts from the one `initialValue` object
    /// itself, not a copy: a `reduce` that changes the object in place instead of returning a new one leaks
    /// that change into every later group and statement. Prefer the value form above.
    template <class T>
    void registerAggregate(std::string_view name, std::optional<std::int64_t> argumentCount, bool deterministic,
                           std::shared_ptr<T> initialValue,
                           std::function<std::shared_ptr<T>(std::shared_ptr<T>, const Bindings&)> reduce,
                           std::function<std::optional<Binding>(const std::shared_ptr<T>&)> result)
    {
        registerAggregateCallbacks(
            name, argumentCount, deterministic,
            AggregateCallbacks{[initialValue = std::move(initialValue)] { return std::any(initialValue); },
                               [reduce = std::move(reduce)](std::any& state, const Bindings& arguments) {
                                   auto& current = std::any_cast<std::shared_ptr<T>&>(state);
                                   current = reduce(current, arguments);
                               },
                               [result = std::move(result)](std::any& state) {
                                   return result(std::any_cast<std::shared_ptr<T>&>(state));
                               }});
    }

    /// What both `registerAggregate` forms use. Fatal as `createFunction`.
    void registerAggregateCallbacks(std::string_view name, std::optional<std::int64_t> argumentCount,
                                    bool deterministic, AggregateCallbacks callbacks);

    /// A scalar function of zero, one or two typed parameters (include "sqlite/TypedFunction.h"). Returns the
    /// builder of its calls: typed argument expressions in, the call expression out. A NULL or a value of
    /// another storage class for a parameter makes that call fail with an error. Fatal as `createFunction`.
    template <class F> auto createTypedFunction(std::string_view name, bool deterministic, F callback);

    // Backup -------------------------------------------------------------------------------------------

    /// Starts copying this connection's database `name` into `target`'s database `targetName`.
    /// Throws `Result` when SQLite cannot start it (for example when the target is being read).
    Backup backup(const Backup::DatabaseName& name, std::shared_ptr<Connection> target,
                  const Backup::DatabaseName& targetName);

    // Running typed queries (defined with the row types; include "sqlite/QueryRunning.h") --------------

    /// Compiles, prepares and binds `query` and resolves its column-name map; rows are read lazily, and a
    /// failing step is thrown. Throws `Result` (preparing) and `QueryError` noSuchTable ("t".* of no table).
    RowIterator prepareQuery(const QueryType& query);
    RowIterator prepareRowIterator(const QueryType& query);
    /// SQL text with positional values; the map is the quoted result-column names (no "*" expansion).
    RowIterator prepareRowIterator(std::string_view sql, const Bindings& values = {});
    /// The single value of a scalar query or a compiled selection. For a non-optional `T`, a NULL, a missing
    /// row or a value of another storage class throws `QueryError` unexpectedNullValue; an optional `T` gives
    /// none then. Throws `Result`.
    template <class T> T queryScalar(const ScalarQuery<T>& query);
    template <class T> T queryScalar(const Select<T>& select);
    /// The first row of `query` (LIMIT 1, its own offset kept), none when there is none. Throws `Result`.
    std::optional<Row> pluck(const QueryType& query);
    /// Prepare, bind, run and read the result as one unit under the queue rule. Throw `Result`.
    std::int64_t runInsert(const Insert& insert);
    std::int64_t runUpdate(const Update& update);
    std::int64_t runDelete(const Delete& statement);

    // Schema (defined with the schema types; include "sqlite/SchemaReader.h") ---------------------------

    /// A new reader of this connection's schema.
    std::shared_ptr<SchemaReader> schema();
    /// The rows whose foreign keys point nowhere, in the whole database or in one table, in SQLite's order.
    /// Throws `Result`, also when a step fails midway.
    std::vector<ForeignKeyError> foreignKeyCheck(std::optional<std::string_view> table = std::nullopt);
    /// The problems SQLite finds in the database file or in one table, as it words them; empty when sound.
    /// Throws `Result`. Fatal with a table on SQLite older than 3.33.0, which cannot check a single table.
    std::vector<std::string> integrityCheck(std::optional<std::string_view> table = std::nullopt);

    // For the library's own use ------------------------------------------------------------------------

    /// The raw handle, for code of this library that calls SQLite itself (under `sync` while SQL runs).
    sqlite3* handle() const { return handle_; }

    /// The queue rule: runs `work` on the calling thread while holding this connection, and returns its
    /// result or lets its exception through. Runs inline when this thread already holds the connection
    /// anywhere up its call chain, so re-entry (from a hook, a function, a transaction body, or A → B → A)
    /// never deadlocks.
    template <class Work> decltype(auto) sync(Work&& work)
    {
        if (holdsQueue()) {
            return std::forward<Work>(work)();
        }
        QueueLock lock(*this);
        return std::forward<Work>(work)();
    }

    /// True when the calling thread holds this connection's queue.
    bool holdsQueue() const noexcept
    {
        for (const QueueLock* lock = topQueueLock_; lock != nullptr; lock = lock->previous_) {
            if (&lock->connection_ == this) {
                return true;
            }
        }
        return false;
    }

    static Operation operationFromCode(int code);

private:
    // Locks the connection and marks it held by this thread until destroyed. The marks form a stack through
    // the locks themselves, which live on the stack of `sync`: no allocation, no limit on nesting.
    class QueueLock {
    public:
        explicit QueueLock(Connection& connection) : connection_(connection), previous_(topQueueLock_)
        {
            connection_.lockQueue();
            topQueueLock_ = this;
        }
        ~QueueLock()
        {
            topQueueLock_ = previous_;
            connection_.unlockQueue();
        }
        QueueLock(const QueueLock&) = delete;
        QueueLock& operator=(const QueueLock&) = delete;

        Connection& connection_;
        const QueueLock* previous_;
    };
    static inline thread_local const QueueLock* topQueueLock_ = nullptr;

    template <class Callback, class Register>
    void replaceCallback(std::unique_ptr<Callback>& field, Callback callback, Register registerWithSqlite);
    void lockQueue();
    void unlockQueue();
    bool readBooleanPragma(std::string_view name);
    void writeBooleanPragma(std::string_view name, bool on);
    void runGuarded(const std::string& begin, const std::string& commit, const std::string& rollback,
                    bool releaseAfterRollback, const std::function<void()>& block);

    sqlite3* handle_ = nullptr;
    std::atomic<bool> usesExtendedErrorCodes_{false};
    double busyTimeout_ = 0;
    std::unique_ptr<BusyHandler> busyHandler_;
    std::unique_ptr<TraceCallback> trace_;
    std::unique_ptr<UpdateHook> updateHook_;
    std::unique_ptr<CommitHook> commitHook_;
    std::unique_ptr<RollbackHook> rollbackHook_;
    // Callbacks replaced from inside a callback, which may still be running.
    std::vector<std::shared_ptr<void>> retiredCallbacks_;
    // The connection's own SQLite mutex (recursive, present in serialized mode) is the queue's lock, so a
    // step under the queue re-enters it instead of taking a second lock. `fallbackQueue_` serves when
    // SQLite gives no mutex.
    sqlite3_mutex* queueMutex_ = nullptr;
    std::mutex fallbackQueue_;
};

std::string_view toText(Connection::TransactionMode mode);
/// Exact matching: "deferred" is no mode.
std::optional<Connection::TransactionMode> transactionModeFromText(std::string_view text);

} // namespace sqlite
