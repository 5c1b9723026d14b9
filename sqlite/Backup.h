#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct sqlite3_backup;

namespace sqlite {

class Connection;

/// Copies one database of a source connection into one database of a target connection while both stay open,
/// page by page. Each step holds both connections by the queue rule, so statements that other threads run on
/// them wait for the step and never run in the middle of it. Move-only; finished on destruction.
class Backup {
public:
    /// Which database of a connection: "main", "temp" or the schema name of an attached one.
    class DatabaseName {
    public:
        static DatabaseName main() { return DatabaseName("main"); }
        static DatabaseName temp() { return DatabaseName("temp"); }
        static DatabaseName attached(std::string name) { return DatabaseName(std::move(name)); }

        /// The schema name that SQLite expects.
        const std::string& schemaName() const { return name_; }

    private:
        explicit DatabaseName(std::string name) : name_(std::move(name)) {}
        std::string name_;
    };

    /// How much one step copies: a number of pages, or every remaining page.
    class Pages {
    public:
        static Pages limited(std::int32_t number) { return Pages(number); }
        static Pages all() { return Pages(-1); }

        /// The count handed to SQLite; -1 for all.
        std::int32_t count() const { return count_; }

    private:
        explicit Pages(std::int32_t count) : count_(count) {}
        std::int32_t count_;
    };

    /// Starts the copy. Throws `Result` with the target connection's error when SQLite cannot start it
    /// (an unknown schema name, a target that is being read, the same connection on both sides).
    Backup(std::shared_ptr<Connection> source, const DatabaseName& sourceName, std::shared_ptr<Connection> target,
           const DatabaseName& targetName);
    ~Backup();
    Backup(Backup&&) noexcept = default;
    /// Finishes this copy first: SQLite lets the target of an unfinished copy close (and the copy would then
    /// use it after it is gone) and refuses to close its source (which would stay open for good).
    Backup& operator=(Backup&& other) noexcept;
    Backup(const Backup&) = delete;
    Backup& operator=(const Backup&) = delete;

    /// Copies the next pages. Returns normally when pages are left and when the copy has just completed
    /// (the backup is then finished); does nothing on a finished backup. Throws `Result` for every other
    /// outcome, SQLITE_BUSY and SQLITE_LOCKED included; the backup then stays open to be stepped again.
    void step(Pages pages = Pages::all());

    /// Pages of the source at the last step; 0 before the first step and once finished.
    std::int32_t pageCount() const;
    /// Pages still to copy at the last step; 0 before the first step and once finished.
    std::int32_t remainingPageCount() const;

    /// Ends the copy (completed or not); harmless when already finished. Reports nothing.
    void finish() noexcept;

    const std::shared_ptr<Connection>& sourceConnection() const { return sourceConnection_; }
    const std::shared_ptr<Connection>& targetConnection() const { return targetConnection_; }

private:
    struct Finisher {
        void operator()(sqlite3_backup* handle) const noexcept;
    };
    template <class Work> void underBothQueues(Work&& work);

    // Declared before the handle, so the handle is finished before the connections are let go.
    std::shared_ptr<Connection> targetConnection_;
    std::shared_ptr<Connection> sourceConnection_;
    std::unique_ptr<sqlite3_backup, Finisher> handle_;
};

} // namespace sqlite
