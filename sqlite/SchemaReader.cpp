#include "sqlite/SchemaReader.h"

#include "sqlite/Fatal.h"
#include "sqlite/Operators.h"
#include "sqlite/QueryRunning.h"
#include "sqlite/QuoteSQL.h"

#include <utility>

namespace sqlite {

namespace {

constexpr std::string_view unit = "SQLite/SchemaReader";

template <class T> Expression<T> columnHandle(std::string_view name)
{
    return Expression<T>::makeIdentifierExpression(name);
}

// The columns of the schema table and of the PRAGMAs that the reader reads, made once.
struct Columns {
    Expression<std::string> type = columnHandle<std::string>("type");
    Expression<std::string> name = columnHandle<std::string>("name");
    Expression<std::string> tableName = columnHandle<std::string>("tbl_name");
    Expression<std::optional<std::int64_t>> rootpage = columnHandle<std::optional<std::int64_t>>("rootpage");
    Expression<std::optional<std::string>> sql = columnHandle<std::optional<std::string>>("sql");

    // "PRAGMA table_info"
    Expression<std::string> columnType = columnHandle<std::string>("type");
    Expression<std::int64_t> notNull = columnHandle<std::int64_t>("notnull");
    Expression<std::optional<std::string>> defaultValue = columnHandle<std::optional<std::string>>("dflt_value");
    Expression<std::optional<std::int64_t>> primaryKey = columnHandle<std::optional<std::int64_t>>("pk");

    // "PRAGMA index_list" and "PRAGMA index_info"
    Expression<std::int64_t> unique = columnHandle<std::int64_t>("unique");
    Expression<std::optional<std::string>> indexedName = columnHandle<std::optional<std::string>>("name");

    // "PRAGMA foreign_key_list"
    Expression<std::string> parent = columnHandle<std::string>("table");
    Expression<std::string> from = columnHandle<std::string>("from");
    Expression<std::optional<std::string>> to = columnHandle<std::optional<std::string>>("to");
    Expression<std::string> onUpdate = columnHandle<std::string>("on_update");
    Expression<std::string> onDelete = columnHandle<std::string>("on_delete");

    static const Columns& shared()
    {
        static const Columns columns;
        return columns;
    }
};

// The schema tables, selecting their columns by name: a "*" would cost one more prepare to expand.
struct SchemaTables {
    static Table selecting(Table table)
    {
        const Columns& c = Columns::shared();
        return std::move(table).selectColumns(c.type, c.name, c.tableName, c.rootpage, c.sql);
    }
    Table mainSchema = selecting(Table("sqlite_schema", "main"));
    Table tempSchema = selecting(Table("sqlite_schema", "temp"));
    Table master = selecting(Table("sqlite_master"));
    Table tempMaster = selecting(Table("sqlite_temp_master"));

    static const SchemaTables& shared()
    {
        static const SchemaTables tables;
        return tables;
    }
};

std::string pragma(std::string_view name, std::string_view argument)
{
    return "PRAGMA " + std::string(name) + "(" + quoteSQL(argument) + ")";
}

std::optional<std::string> action(std::string text)
{
    if (text == "NO ACTION") {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::shared_ptr<SchemaReader> Connection::schema()
{
    return std::make_shared<SchemaReader>(shared_from_this());
}

SchemaReader::SchemaReader(std::shared_ptr<Connection> connection, std::optional<SQLiteVersion> version)
    : connection_(std::move(connection)), version_(version ? *version : connection_->sqliteVersion())
{}

std::vector<ObjectDefinition> SchemaReader::readObjectDefinitions(std::optional<std::string_view> name,
                                                                  std::optional<ObjectDefinition::ObjectType> type,
                                                                  bool temp)
{
    const Columns& c = Columns::shared();
    const SchemaTables& tables = SchemaTables::shared();
    Table query = version_ >= SQLiteVersion{3, 33, 0} ? (temp ? tables.tempSchema : tables.mainSchema)
                                                      : (temp ? tables.tempMaster : tables.master);
    if (name) {
        query = std::move(query).filterQuery(equalsValue(c.name, std::string(*name)));
    }
    if (type) {
        query = std::move(query).filterQuery(equalsValue(c.type, std::string(toText(*type))));
    }
    return connection_->prepareQuery(query).map([&](const Row& row) {
        const std::optional<ObjectDefinition::ObjectType> objectType = objectTypeFromText(row.getValue(c.type));
        if (!objectType) {
            SQLITE_FATAL(unit, "unexpected type");
        }
        return ObjectDefinition{*objectType, row.getValue(c.name), row.getValue(c.tableName),
                                row.getValue(c.rootpage).value_or(0), row.getValue(c.sql)};
    });
}

std::vector<ColumnDefinition::ForeignKey> SchemaReader::readForeignKeys(std::string_view table)
{
    const Columns& c = Columns::shared();
    return connection_->prepareRowIterator(pragma("foreign_key_list", table)).map([&](const Row& row) {
        return ColumnDefinition::ForeignKey{row.getValue(c.parent), row.getValue(c.from), row.getValue(c.to),
                                            action(row.getValue(c.onUpdate)), action(row.getValue(c.onDelete))};
    });
}

std::optional<std::string> SchemaReader::readCreateTableSQL(std::string_view table)
{
    std::vector<ObjectDefinition> definitions =
        readObjectDefinitions(table, ObjectDefinition::ObjectType::table, false);
    const std::vector<ObjectDefinition> temporary =
        readObjectDefinitions(table, ObjectDefinition::ObjectType::table, true);
    definitions.insert(definitions.end(), temporary.begin(), temporary.end());
    std::vector<std::string> texts = ObjectDefinition::sqlTexts(definitions);
    if (texts.empty()) {
        return std::nullopt;
    }
    return std::move(texts.front());
}

std::vector<ColumnDefinition> SchemaReader::readColumnDefinitions(std::string_view table)
{
    ForeignKeysByColumn foreignKeys;
    for (ColumnDefinition::ForeignKey& key : readForeignKeys(table)) {
        std::string column = key.column;
        foreignKeys[column].push_back(std::move(key));
    }
    // Every key column takes its details from the same CREATE TABLE text: read it once for the call.
    std::optional<std::optional<std::string>> createTableSQL;
    return connection_->prepareRowIterator(pragma("table_info", table)).map([&](const Row& row) {
        return rowToColumnDefinition(row, table, foreignKeys, createTableSQL);
    });
}

ColumnDefinition SchemaReader::rowToColumnDefinition(const Row& row, std::string_view table,
                                                     const ForeignKeysByColumn& foreignKeys)
{
    std::optional<std::optional<std::string>> createTableSQL;
    return rowToColumnDefinition(row, table, foreignKeys, createTableSQL);
}

ColumnDefinition SchemaReader::rowToColumnDefinition(const Row& row, std::string_view table,
                                                     const ForeignKeysByColumn& foreignKeys,
                                                     std::optional<std::optional<std::string>>& createTableSQL)
{
    const Columns& c = Columns::shared();
    ColumnDefinition column;
    column.name = row.getValue(c.name);
    if (const std::optional<std::int64_t> position = row.getValue(c.primaryKey); position && *position >= 1) {
        if (!createTableSQL) {
            createTableSQL = readCreateTableSQL(table);
        }
        if (const std::optional<std::string>& sql = *createTableSQL) {
            column.primaryKey = ColumnDefinition::PrimaryKey::parse(*sql);
            if (column.primaryKey) {
                column.primaryKey->position = static_cast<int>(*position);
            }
        }
    }
    column.type = ColumnDefinition::affinityFromDeclaredType(row.getValue(c.columnType));
    column.nullable = row.getValue(c.notNull) == 0;
    const std::optional<std::string> defaultText = row.getValue(c.defaultValue);
    column.defaultValue =
        LiteralValue::parse(defaultText ? std::optional<std::string_view>(*defaultText) : std::nullopt);
    if (const auto found = foreignKeys.find(column.name); found != foreignKeys.end() && !found->second.empty()) {
        column.references = found->second.front();
    }
    return column;
}

std::vector<IndexDefinition> SchemaReader::readIndexDefinitions(std::string_view table)
{
    return connection_->prepareRowIterator(pragma("index_list", table)).compactMap([&](const Row& row) {
        return rowToIndexEntry(row, table);
    });
}

std::optional<IndexDefinition> SchemaReader::rowToIndexEntry(const Row& row, std::string_view table)
{
    const Columns& c = Columns::shared();
    std::string name = row.getValue(c.name);
    if (name.starts_with("sqlite_")) {
        return std::nullopt;
    }
    const bool unique = row.getValue(c.unique) == 1;
    // Rows without a name are expressions: only plain columns are indexed names.
    std::vector<std::string> columns =
        connection_->prepareRowIterator(pragma("index_info", name)).compactMap([&](const Row& info) {
            return info.getValue(c.indexedName);
        });
    std::vector<std::string> texts =
        ObjectDefinition::sqlTexts(readObjectDefinitions(name, ObjectDefinition::ObjectType::index, false));
    const std::optional<std::string_view> sql =
        texts.empty() ? std::nullopt : std::optional<std::string_view>(texts.front());
    return IndexDefinition::make(std::string(table), std::move(name), unique, std::move(columns), sql);
}

} // namespace sqlite
