#include "sqlite/SchemaChanger.h"

#include "sqlite/Fatal.h"
#include "sqlite/QuoteSQL.h"
#include "sqlite/SQLTokens.h"

#include <algorithm>
#include <set>
#include <utility>

namespace sqlite {

namespace {

constexpr std::string_view unit = "SQLite/SchemaChanger";

template <class... F> struct Overloaded : F... {
    using F::operator()...;
};
template <class... F> Overloaded(F...) -> Overloaded<F...>;

std::string alterTable(std::string_view table)
{
    return "ALTER TABLE " + quoteSQL(table);
}

// Every row of a PRAGMA, each as a map from column name to value.
struct PragmaRows {
    std::vector<std::string> names;
    std::vector<Bindings> rows;

    const std::optional<Binding>* find(const Bindings& row, std::string_view column) const
    {
        const auto found = std::find(names.begin(), names.end(), column);
        const auto index = static_cast<std::size_t>(found - names.begin());
        return found == names.end() || index >= row.size() ? nullptr : &row[index];
    }
    std::optional<std::int64_t> integer(const Bindings& row, std::string_view column) const
    {
        const auto* value = find(row, column);
        return value && *value && std::holds_alternative<std::int64_t>(**value)
                   ? std::optional(std::get<std::int64_t>(**value))
                   : std::nullopt;
    }
    std::optional<std::string> text(const Bindings& row, std::string_view column) const
    {
        const auto* value = find(row, column);
        return value && *value && std::holds_alternative<std::string>(**value)
                   ? std::optional(std::get<std::string>(**value))
                   : std::nullopt;
    }
};

PragmaRows readPragma(Connection& connection, std::string_view name, std::string_view argument)
{
    auto statement = connection.prepare("PRAGMA " + std::string(name) + "(" + quoteSQL(argument) + ")");
    PragmaRows result{statement->columnNames(), {}};
    while (std::optional<Bindings> row = statement->failableNext()) {
        result.rows.push_back(std::move(*row));
    }
    return result;
}

// What a CREATE TABLE text says that the column definitions cannot say again.
std::optional<std::string> unheldTableClause(std::string_view createTableSQL)
{
    int depth = 0;
    bool listClosed = false;
    detail::SQLTokenizer tokens(createTableSQL);
    while (const std::optional<detail::SQLToken> next = tokens.next()) {
        const detail::SQLToken& token = *next;
        if (token.isPunctuation('(')) {
            ++depth;
        } else if (token.isPunctuation(')')) {
            listClosed = --depth == 0;
        } else if (listClosed && depth == 0 && token.kind == detail::SQLToken::Kind::word) {
            return "table options (" + std::string(detail::trimSQL(createTableSQL.substr(token.offset))) + ")";
        } else if (token.isKeyword("CHECK")) {
            return std::string("CHECK constraints");
        } else if (token.isKeyword("UNIQUE")) {
            return std::string("UNIQUE constraints");
        } else if (token.isKeyword("COLLATE")) {
            return std::string("column collations");
        } else if (token.isKeyword("DEFERRABLE")) {
            return std::string("deferrable foreign keys");
        }
    }
    return std::nullopt;
}

// The condition of a partial index with every reference to column `from` naming `to` instead.
std::string renameInCondition(std::string_view condition, const std::string& from, const std::string& to)
{
    std::string out;
    std::size_t copied = 0;
    for (const detail::SQLToken& token : detail::tokenizeSQL(condition)) {
        if (token.isName() && token.name() == from) {
            out.append(condition.substr(copied, token.offset - copied));
            out += quoteSQL(to);
            copied = token.end();
        }
    }
    out.append(condition.substr(copied));
    return out;
}

// Whether `sql` names `table` anywhere outside its texts.
bool mentions(std::string_view sql, const std::string& table)
{
    detail::SQLTokenizer tokens(sql);
    while (const std::optional<detail::SQLToken> token = tokens.next()) {
        if (token->isName() && token->name() == table) {
            return true;
        }
    }
    return false;
}

void runTexts(Connection& connection, const std::vector<std::string>& statements)
{
    for (const std::string& sql : statements) {
        connection.runStatement(sql);
    }
}

} // namespace

// Error --------------------------------------------------------------------------------------------------

SchemaChanger::Error::Error(Kind kind, std::string reason, std::vector<ForeignKeyError> errors, std::string description)
    : sqlite::Error(sqlite::Error::Kind::schemaChange), kind_(kind), reason_(std::move(reason)),
      errors_(std::move(errors)), description_(std::move(description))
{}

SchemaChanger::Error SchemaChanger::Error::invalidColumnDefinition(std::string reason)
{
    std::string description = "Invalid column definition: " + reason;
    return Error(Kind::invalidColumnDefinition, std::move(reason), {}, std::move(description));
}

SchemaChanger::Error SchemaChanger::Error::foreignKeyError(std::vector<ForeignKeyError> errors)
{
    std::string description = "Foreign key errors: [";
    for (std::size_t i = 0; i < errors.size(); ++i) {
        description += (i > 0 ? ", " : "") + errors[i].description();
    }
    description += "]";
    return Error(Kind::foreignKeyError, {}, std::move(errors), std::move(description));
}

SchemaChanger::Error SchemaChanger::Error::cannotRebuild(std::string table, std::string reason)
{
    std::string description = "Cannot rebuild table '" + table + "': " + reason;
    return Error(Kind::cannotRebuild, std::move(reason), {}, std::move(description));
}

// Operations ---------------------------------------------------------------------------------------------

std::optional<std::string> SchemaChanger::Operation::toSQL(std::string_view table, SQLiteVersion version) const
{
    return std::visit(Overloaded{
                          [&](const AddColumn& op) -> std::optional<std::string> {
                              return alterTable(table) + " ADD COLUMN " + op.column.toSQL();
                          },
                          [&](const DropColumn& op) -> std::optional<std::string> {
                              if (version < SQLiteVersion{3, 35, 0}) {
                                  return std::nullopt;
                              }
                              return alterTable(table) + " DROP COLUMN " + quoteSQL(op.column);
                          },
                          [&](const RenameColumn& op) -> std::optional<std::string> {
                              if (version < SQLiteVersion{3, 25, 0}) {
                                  return std::nullopt;
                              }
                              return alterTable(table) + " RENAME COLUMN " + quoteSQL(op.from) + " TO " +
                                     quoteSQL(op.to);
                          },
                          [](const RenameTable&) -> std::optional<std::string> { return std::nullopt; },
                      },
                      change);
}

TableDefinition applyOperation(const TableDefinition& definition,
                               const std::optional<SchemaChanger::Operation>& operation)
{
    if (!operation) {
        return definition;
    }
    using Op = SchemaChanger::Operation;
    TableDefinition result = definition;
    std::visit(Overloaded{
                   [](const Op::AddColumn&) { SQLITE_FATAL(unit, "Use 'ALTER TABLE ADD COLUMN (...)'"); },
                   [&](const Op::DropColumn& op) {
                       std::erase_if(result.columns, [&](const ColumnDefinition& c) { return c.name == op.column; });
                       std::erase_if(result.indexes, [&](const IndexDefinition& index) {
                           return std::find(index.columns.begin(), index.columns.end(), op.column) !=
                                  index.columns.end();
                       });
                   },
                   [&](const Op::RenameColumn& op) {
                       for (ColumnDefinition& column : result.columns) {
                           if (column.name == op.from) {
                               column.name = op.to;
                           }
                       }
                       for (IndexDefinition& index : result.indexes) {
                           std::replace(index.columns.begin(), index.columns.end(), op.from, op.to);
                           if (index.where) {
                               index.where = renameInCondition(*index.where, op.from, op.to);
                           }
                           // A descending column stays descending under its new name.
                           if (index.orders) {
                               if (auto node = index.orders->extract(op.from)) {
                                   node.key() = op.to;
                                   index.orders->insert(std::move(node));
                               }
                           }
                       }
                   },
                   [&](const Op::RenameTable& op) {
                       // Indexes keep their own names: a rebuild makes them again only once the table is back
                       // under its old name and the old indexes are gone.
                       result.name = op.name;
                       for (IndexDefinition& index : result.indexes) {
                           index.table = op.name;
                       }
                   },
               },
               operation->change);
    return result;
}

// Changer ------------------------------------------------------------------------------------------------

SchemaChanger::SchemaChanger(std::shared_ptr<Connection> connection, std::optional<SQLiteVersion> version)
    : connection_(std::move(connection)), schemaReader_(std::make_shared<SchemaReader>(connection_, version)),
      version_(version ? *version : connection_->sqliteVersion())
{}

std::string SchemaChanger::description() const
{
    return "SQLiteSchemaChanger: " + connection_->description();
}

void SchemaChanger::alter(std::string_view table, const std::function<void(AlterTableDefinition&)>& block)
{
    AlterTableDefinition definition{std::string(table)};
    block(definition);
    for (const Operation& operation : definition.operations) {
        if (const auto* add = std::get_if<Operation::AddColumn>(&operation.change)) {
            const ColumnDefinition& column = add->column;
            if (column.primaryKey) {
                throw Error::invalidColumnDefinition("can not add primary key column");
            }
            const LiteralValue::Kind kind = column.defaultValue.kind();
            if (kind == LiteralValue::Kind::currentTime || kind == LiteralValue::Kind::currentDate ||
                kind == LiteralValue::Kind::currentTimestamp) {
                throw Error::invalidColumnDefinition("Invalid default value");
            }
            if (!column.nullable && kind == LiteralValue::Kind::null) {
                throw Error::invalidColumnDefinition("NOT NULL columns must have a default value other than NULL");
            }
        }
        if (const std::optional<std::string> sql = operation.toSQL(definition.name, version_)) {
            connection_->runStatement(*sql);
        } else {
            rebuild(definition.name, operation);
        }
    }
}

void SchemaChanger::drop(std::string_view table, bool ifExists)
{
    dropTable(table, ifExists);
}

void SchemaChanger::rename(std::string_view table, std::string_view to)
{
    connection_->runStatement(alterTable(table) + " RENAME TO " + quoteSQL(to));
}

void SchemaChanger::dropTable(std::string_view table, bool ifExists)
{
    connection_->runStatement((ifExists ? "DROP TABLE IF EXISTS " : "DROP TABLE ") + quoteSQL(table));
}

void SchemaChanger::createTableIndexes(const TableDefinition& definition)
{
    for (const IndexDefinition& index : definition.indexes) {
        index.validate();
        connection_->runStatement(index.toSQL(false));
    }
}

TableDefinition SchemaChanger::copyTable(std::string_view from, std::string_view to, bool temporary,
                                         const std::optional<Operation>& operation)
{
    const TableDefinition source{std::string(from), schemaReader_->readColumnDefinitions(from),
                                 schemaReader_->readIndexDefinitions(from)};
    if (source.columns.empty()) {
        throw Error::cannotRebuild(source.name, "no such table");
    }
    const TableDefinition target =
        applyOperation(applyOperation(source, Operation::renameTable(std::string(to))), operation);
    if (target.columns.empty()) {
        throw Error::cannotRebuild(source.name, "a table needs at least one column");
    }
    connection_->runStatement(target.toSQL(temporary));
    const bool dropsColumn = operation && std::holds_alternative<Operation::DropColumn>(operation->change);
    connection_->runStatement((dropsColumn ? applyOperation(source, operation) : source).copySQL(target));
    return target;
}

void SchemaChanger::checkRebuildable(const std::string& table, const std::vector<ColumnDefinition>& columns)
{
    if (columns.empty()) {
        throw Error::cannotRebuild(table, "no such table");
    }
    auto refuse = [&](const std::string& what) {
        throw Error::cannotRebuild(table, "it has " + what + ", which a rebuilt table would lose");
    };
    if (const std::optional<std::string> sql = schemaReader_->readCreateTableSQL(table)) {
        if (const std::optional<std::string> clause = unheldTableClause(*sql)) {
            refuse(*clause);
        }
    }
    // "PRAGMA table_info" leaves out generated columns; "table_xinfo" marks them hidden 2 or 3.
    const PragmaRows allColumns = readPragma(*connection_, "table_xinfo", table);
    for (const Bindings& row : allColumns.rows) {
        const std::int64_t hidden = allColumns.integer(row, "hidden").value_or(0);
        if (hidden != 0) {
            refuse(hidden == 1 ? "hidden columns" : "generated columns");
        }
    }
    const PragmaRows keys = readPragma(*connection_, "foreign_key_list", table);
    std::set<std::string> keyColumns;
    for (const Bindings& row : keys.rows) {
        if (keys.integer(row, "seq").value_or(0) > 0) {
            refuse("a foreign key over several columns");
        }
        if (!keyColumns.insert(keys.text(row, "from").value_or("")).second) {
            refuse("several foreign keys on one column");
        }
    }
    const PragmaRows indexes = readPragma(*connection_, "index_list", table);
    for (const Bindings& row : indexes.rows) {
        const std::string name = indexes.text(row, "name").value_or("");
        if (name.starts_with("sqlite_")) {
            continue;
        }
        const PragmaRows indexed = readPragma(*connection_, "index_info", name);
        for (const Bindings& column : indexed.rows) {
            if (!indexed.text(column, "name")) {
                refuse("an index on an expression (" + name + ")");
            }
        }
        const std::vector<std::string> texts = ObjectDefinition::sqlTexts(
            schemaReader_->readObjectDefinitions(name, ObjectDefinition::ObjectType::index, false));
        for (const std::string& text : texts) {
            for (const detail::SQLToken& token : detail::tokenizeSQL(text)) {
                if (token.isKeyword("COLLATE")) {
                    refuse("an index with a collation (" + name + ")");
                }
            }
        }
    }
}

void SchemaChanger::rebuild(const std::string& table, const Operation& operation)
{
    connection_->sync([&] {
        checkRebuildable(table, schemaReader_->readColumnDefinitions(table));
        std::vector<std::string> triggers;
        for (const ObjectDefinition& trigger :
             schemaReader_->readObjectDefinitions(std::nullopt, ObjectDefinition::ObjectType::trigger, false)) {
            if (trigger.tableName == table && trigger.sql) {
                triggers.push_back(*trigger.sql);
            }
        }

        // SQLite ignores "PRAGMA foreign_keys" inside a transaction: enforcement goes off before BEGIN and comes
        // back after the end, or dropping the old table would run ON DELETE actions in other tables.
        const bool foreignKeys = connection_->foreignKeys();
        const bool deferForeignKeys = connection_->deferForeignKeys();
        connection_->setForeignKeys(false);
        try {
            if (foreignKeys && connection_->foreignKeys()) {
                throw Error::cannotRebuild(table, "foreign-key enforcement cannot be switched off (is a "
                                                  "transaction open?)");
            }
            connection_->transaction(Connection::TransactionMode::deferred, [&] {
                connection_->setDeferForeignKeys(true);
                try {
                    const std::string copy = "tmp_" + table;
                    TableDefinition rebuilt = copyTable(table, copy, false, operation);
                    dropTable(table, true);
                    // The legacy rename leaves views and triggers that name the old table alone; the modern one
                    // re-checks them and fails while the table is briefly missing.
                    const bool legacy = connection_->scalar("PRAGMA legacy_alter_table") == Binding(std::int64_t{1});
                    const std::string restoreLegacy = "PRAGMA legacy_alter_table = " + std::string(legacy ? "1" : "0");
                    connection_->runStatement("PRAGMA legacy_alter_table = 1");
                    try {
                        rename(copy, table);
                    } catch (...) {
                        connection_->runStatement(restoreLegacy);
                        throw;
                    }
                    connection_->runStatement(restoreLegacy);
                    createTableIndexes(applyOperation(rebuilt, Operation::renameTable(table)));
                    runTexts(*connection_, triggers);
                    // A view over the table that no longer compiles (a column it reads was dropped or renamed)
                    // fails the rebuild instead of being left broken.
                    for (const ObjectDefinition& view : schemaReader_->readObjectDefinitions(
                             std::nullopt, ObjectDefinition::ObjectType::view, false)) {
                        if (view.sql && mentions(*view.sql, table)) {
                            connection_->prepare("SELECT * FROM " + quoteSQL(view.name));
                        }
                    }
                    if (std::vector<ForeignKeyError> errors = connection_->foreignKeyCheck(); !errors.empty()) {
                        throw Error::foreignKeyError(std::move(errors));
                    }
                } catch (...) {
                    connection_->setDeferForeignKeys(deferForeignKeys);
                    throw;
                }
                connection_->setDeferForeignKeys(deferForeignKeys);
            });
        } catch (...) {
            connection_->setForeignKeys(foreignKeys);
            throw;
        }
        connection_->setForeignKeys(foreignKeys);
    });
}

} // namespace sqlite
