#pragma once

#include "sqlite/Connection.h"
#include "sqlite/SQLiteVersion.h"
#include "sqlite/SchemaDefinitions.h"
#include "sqlite/SchemaReader.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sqlite {

/// Changes the tables of an open database: adds, drops and renames columns, renames and drops tables. A change
/// the library can make with one ALTER TABLE statement is made so; otherwise the table is rebuilt through a copy
/// inside one transaction, keeping its rows, defaults, keys, indexes (under their own names) and triggers. A
/// table with parts the definitions cannot hold is refused before anything runs, rather than rebuilt without
/// them. Not safe against other writers on the same connection between the operations of one `alter`.
class SchemaChanger {
public:
    class Error : public sqlite::Error {
    public:
        enum class Kind { invalidColumnDefinition, foreignKeyError, cannotRebuild };

        static Error invalidColumnDefinition(std::string reason);
        static Error foreignKeyError(std::vector<ForeignKeyError> errors);
        /// A rebuild of `table` would lose what `reason` names, or cannot run at all.
        static Error cannotRebuild(std::string table, std::string reason);

        Kind kind() const noexcept { return kind_; }
        /// The reason of `invalidColumnDefinition` and `cannotRebuild`.
        const std::string& reason() const noexcept { return reason_; }
        const std::vector<ForeignKeyError>& foreignKeyErrors() const noexcept { return errors_; }

        /// "Invalid column definition: …", "Foreign key errors: [a [1] => b, …]" or
        /// "Cannot rebuild table 't': …".
        const std::string& description() const noexcept { return description_; }
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        Error(Kind kind, std::string reason, std::vector<ForeignKeyError> errors, std::string description);
        Kind kind_;
        std::string reason_;
        std::vector<ForeignKeyError> errors_;
        std::string description_;
    };

    /// One change of a table.
    struct Operation {
        struct AddColumn {
            ColumnDefinition column;
            bool operator==(const AddColumn&) const = default;
        };
        struct DropColumn {
            std::string column;
            bool operator==(const DropColumn&) const = default;
        };
        struct RenameColumn {
            std::string from;
            std::string to;
            bool operator==(const RenameColumn&) const = default;
        };
        /// Used inside a rebuild only.
        struct RenameTable {
            std::string name;
            bool operator==(const RenameTable&) const = default;
        };

        std::variant<AddColumn, DropColumn, RenameColumn, RenameTable> change;

        static Operation addColumn(ColumnDefinition column) { return {AddColumn{std::move(column)}}; }
        static Operation dropColumn(std::string column) { return {DropColumn{std::move(column)}}; }
        static Operation renameColumn(std::string from, std::string to)
        {
            return {RenameColumn{std::move(from), std::move(to)}};
        }
        static Operation renameTable(std::string name) { return {RenameTable{std::move(name)}}; }

        /// The single statement that makes this change on `version`, or none when the table must be rebuilt
        /// (DROP COLUMN before 3.35.0, RENAME COLUMN before 3.25.0, and always for a table rename).
        std::optional<std::string> toSQL(std::string_view table, SQLiteVersion version) const;

        bool operator==(const Operation&) const = default;
    };

    /// The operations that one `alter` carries out, in the order added.
    class AlterTableDefinition {
    public:
        explicit AlterTableDefinition(std::string name) : name(std::move(name)) {}
        std::vector<Operation> operations;
        std::string name;

        void add(ColumnDefinition column) { operations.push_back(Operation::addColumn(std::move(column))); }
        void drop(std::string column) { operations.push_back(Operation::dropColumn(std::move(column))); }
        void rename(std::string column, std::string to)
        {
            operations.push_back(Operation::renameColumn(std::move(column), std::move(to)));
        }
    };

    /// A changer of `connection`. The library's version is read now, unless `version` stands in for it (tests
    /// use that to take the rebuild path of older libraries on a real database).
    explicit SchemaChanger(std::shared_ptr<Connection> connection, std::optional<SQLiteVersion> version = std::nullopt);

    const std::shared_ptr<Connection>& connection() const { return connection_; }
    SQLiteVersion version() const { return version_; }

    /// Calls `block` once with a fresh definition of `table`, then carries out its operations in order. The
    /// first failure stops the list; the operations before it stay done. Throws `Error`, `Result` and
    /// `IndexDefinition::IndexError`.
    void alter(std::string_view table, const std::function<void(AlterTableDefinition&)>& block);
    /// "DROP TABLE [IF EXISTS] table". Throws `Result`.
    void drop(std::string_view table, bool ifExists = true);
    /// "ALTER TABLE table RENAME TO name". Throws `Result`.
    void rename(std::string_view table, std::string_view to);

    /// Creates `to` as `from` with `operation` applied and copies the rows, pairing columns by position. The
    /// indexes are not made here: their names are still taken by `from`'s (see `createTableIndexes`). Returns
    /// the new table's definition. Throws `Error::cannotRebuild` for a table without columns, and `Result`.
    TableDefinition copyTable(std::string_view from, std::string_view to, bool temporary,
                              const std::optional<Operation>& operation);
    void dropTable(std::string_view table, bool ifExists);
    /// Makes each index of the definition in turn, after checking its name's length. Throws
    /// `IndexDefinition::IndexError` (the remaining indexes are not made) and `Result`.
    void createTableIndexes(const TableDefinition& definition);

    /// "SQLiteSchemaChanger: " and the main database's file name.
    std::string description() const;

private:
    void rebuild(const std::string& table, const Operation& operation);
    void checkRebuildable(const std::string& table, const std::vector<ColumnDefinition>& columns);

    std::shared_ptr<Connection> connection_;
    std::shared_ptr<SchemaReader> schemaReader_;
    SQLiteVersion version_;
};

/// The definition with `operation` applied to its name, columns and indexes; unchanged without one. Adding a
/// column is not an edit of a definition (ALTER TABLE ADD COLUMN always does it) and is fatal here.
TableDefinition applyOperation(const TableDefinition& definition, const std::optional<SchemaChanger::Operation>& operation);

} // namespace sqlite
