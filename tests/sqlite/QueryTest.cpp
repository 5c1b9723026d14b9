#include "sqlite/Query.h"

#include "BuilderSupport.h"
#include "sqlite/Aggregates.h"
#include "sqlite/Operators.h"

using namespace builder_test;

namespace {

const Table t("t");
const Table m("m");
const auto a = column<std::int64_t>("a");
const auto b = column<std::optional<std::string>>("b");
const auto id = column<std::int64_t>("id");
const auto P = equalsValue(a, 1);
const auto Q = equalsValue(b, "q");

struct Case {
    const char* label;
    Expression<void> compiled;
    Expression<void> expected;
};

void check(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.compiled, c.expected);
    }
}

} // namespace

TEST(SelectCompilationTest, ClausesInTheirFixedOrder)
{
    check({
        {"new table", t.expression(), sql("SELECT * FROM \"t\"")},
        {"columns and filter", t.selectColumns(a, b).filterQuery(P).expression(),
         sql("SELECT \"a\", \"b\" FROM \"t\" WHERE (\"a\" = ?)", 1)},
        {"filters nest left", t.filterQuery(P).filterQuery(Q).filterQuery(P).expression(),
         sql("SELECT * FROM \"t\" WHERE (((\"a\" = ?) AND (\"b\" = ?)) AND (\"a\" = ?))", 1, "q", 1)},
        {"distinct, order, limit", t.selectColumns({a}, true).orderQuery(b.desc()).limitQuery(10, 20).expression(),
         sql("SELECT DISTINCT \"a\" FROM \"t\" ORDER BY \"b\" DESC LIMIT 10 OFFSET 20")},
        {"join", t.joinQuery(m, equalsExpression(t[id], m[id])).expression(),
         sql("SELECT * FROM \"t\" INNER JOIN \"m\" ON (\"t\".\"id\" = \"m\".\"id\")")},
        {"count with filter", t.filterQuery(P).count().expression(),
         sql("SELECT count(*) FROM \"t\" WHERE (\"a\" = ?)", 1)},
        {"group having", t.groupQuery({a}, greaterValue(count(a), 2)).expression(),
         sql("SELECT * FROM \"t\" GROUP BY \"a\" HAVING (count(\"a\") > ?)", 2)},
        {"group one by one", t.groupQuery(a, b).expression(), sql("SELECT * FROM \"t\" GROUP BY \"a\", \"b\"")},
        {"exists", untyped(t.filterQuery(P).exists()), sql("SELECT EXISTS (SELECT * FROM \"t\" WHERE (\"a\" = ?))", 1)},
        {"empty column list keeps its part", t.selectColumns(std::vector<Expressible>{}).expression(),
         sql("SELECT  FROM \"t\"")},
        {"several orderings", t.orderQuery(a.asc(), b).expression(),
         sql("SELECT * FROM \"t\" ORDER BY \"a\" ASC, \"b\"")},
        {"order cleared", t.orderQuery(a).orderQuery().expression(), sql("SELECT * FROM \"t\"")},
        {"negative limit written as is", t.limitQuery(-1).expression(), sql("SELECT * FROM \"t\" LIMIT -1")},
        {"limit removed", t.limitQuery(5, 1).limitQuery(std::nullopt).expression(), sql("SELECT * FROM \"t\"")},
    });
}

TEST(SelectCompilationTest, SelectionIsReplacedAndCountKeepsTheOtherClauses)
{
    const auto twice = t.selectColumns({a}, true).selectColumns(b);
    EXPECT_EQ(twice.expression(), sql("SELECT \"b\" FROM \"t\""));

    const auto counted = t.selectColumns(a, b)
                             .joinQuery(m, equalsExpression(t[id], m[id]))
                             .filterQuery(P)
                             .groupQuery(a)
                             .orderQuery(a)
                             .limitQuery(3)
                             .count();
    static_assert(std::is_same_v<decltype(counted), const ScalarQuery<std::int64_t>>);
    EXPECT_EQ(counted.expression(), sql("SELECT count(*) FROM \"t\" INNER JOIN \"m\" ON (\"t\".\"id\" = \"m\".\"id\") "
                                        "WHERE (\"a\" = ?) GROUP BY \"a\" ORDER BY \"a\" LIMIT 3",
                                        1));

    const auto scalar = t.filterQuery(P).selectScalar(b, true);
    static_assert(std::is_same_v<decltype(scalar), const ScalarQuery<std::optional<std::string>>>);
    EXPECT_EQ(scalar.expression(), sql("SELECT DISTINCT \"b\" FROM \"t\" WHERE (\"a\" = ?)", 1));
    EXPECT_EQ(scalar.kind(), SourceKind::scalarQuery);
}

TEST(SelectCompilationTest, BuildersNeverChangeTheirReceiver)
{
    const Table base = t.filterQuery(P);
    const Expression<void> before = base.expression();
    (void)base.filterQuery(Q).selectColumns(a).joinQuery(m, P).groupQuery(a).orderQuery(a).limitQuery(1);
    (void)base.unionQuery(m).alias("x").with(Table("c"), m).count();
    EXPECT_EQ(base.expression(), before);
    EXPECT_EQ(t.expression(), sql("SELECT * FROM \"t\""));
}

TEST(SelectCompilationTest, JoinsCarryTheJoinedFiltersAndBindingsInOrder)
{
    const auto joined = t.joinQuery(JoinType::leftOuter, m.filterQuery(Q).filterQuery(P), equalsValue(m[id], 7))
                            .filterQuery(isValue(b, "x"));
    EXPECT_EQ(joined.expression(),
              sql("SELECT * FROM \"t\" LEFT OUTER JOIN \"m\" ON ((\"m\".\"id\" = ?) AND ((\"b\" = ?) AND (\"a\" = ?))) "
                  "WHERE (\"b\" IS ?)",
                  7, "q", 1, "x"));
    EXPECT_EQ(t.joinQuery(JoinType::cross, m, P).expression(),
              sql("SELECT * FROM \"t\" CROSS JOIN \"m\" ON (\"a\" = ?)", 1));
    EXPECT_EQ(*t.joinQuery(m, P).joinClause(), sql("INNER JOIN \"m\" ON (\"a\" = ?)", 1));
}

TEST(QuerySourceTest, NamesAliasesAndDatabases)
{
    const Table s("screenshots");
    EXPECT_EQ(s.expression(), sql("SELECT * FROM \"screenshots\""));
    const Table aliased = Table("docs", "main").alias("d");
    EXPECT_EQ(aliased.expression(), sql("SELECT * FROM \"main\".\"docs\" AS \"d\""));
    EXPECT_EQ(untyped(aliased[id]), sql("\"main\".\"d\".\"id\""));
    EXPECT_EQ(aliased.qualifiedColumn(star()), sql("\"main\".\"d\".*"));
    EXPECT_EQ(aliased.tableNameExpression(true), sql("\"main\".\"docs\" AS \"d\""));
    EXPECT_EQ(aliased.tableNameExpression(), sql("\"main\".\"d\""));
    EXPECT_EQ(aliased.tableNameForReference(false), sql("\"d\""));
    EXPECT_EQ(aliased.tableNameForReference(true), sql("\"main\".\"d\""));
    EXPECT_EQ(aliased.databaseQualifiedName("x"), sql("\"main\".\"x\""));
    EXPECT_EQ(aliased.alias("e").expression(), sql("SELECT * FROM \"main\".\"docs\" AS \"e\""));
    EXPECT_EQ(Table("a\"b").alias("c\"d").expression(), sql("SELECT * FROM \"a\"\"b\" AS \"c\"\"d\""));
    EXPECT_EQ(s.qualifiedColumn(star()), sql("\"screenshots\".*"));
    const auto qualified = s[column<std::optional<std::string>>("name")];
    static_assert(std::is_same_v<decltype(qualified), const Expression<std::optional<std::string>>>);

    EXPECT_EQ(View("v").kind(), SourceKind::view);
    EXPECT_EQ(VirtualTable("f").expression(), sql("SELECT * FROM \"f\""));
    static_assert(Table::identifier == "TABLE" && View::identifier == "VIEW" &&
                  VirtualTable::identifier == "VIRTUAL TABLE");
    static_assert(SchemaType<Table> && SchemaType<VirtualTable> && !SchemaType<ScalarQuery<std::int64_t>>);
}

TEST(QuerySourceTest, WordsOfTheEnumerations)
{
    EXPECT_EQ(joinTypeText(JoinType::leftOuter), "LEFT OUTER");
    EXPECT_EQ(joinTypeFromText("CROSS"), JoinType::cross);
    EXPECT_EQ(joinTypeFromText("inner"), std::nullopt);
    EXPECT_EQ(materializationHintFromText("NOT MATERIALIZED"), MaterializationHint::notMaterialized);
    EXPECT_EQ(materializationHintFromText(" MATERIALIZED"), std::nullopt);
    EXPECT_EQ(onConflictFromText("IGNORE"), OnConflict::ignore);
    EXPECT_EQ(onConflictFromText("Replace"), std::nullopt);
    EXPECT_EQ(onConflictText(OnConflict::rollback), "ROLLBACK");
}

TEST(WithAndUnionTest, CommonTableExpressions)
{
    const Table c("c");
    const auto inner = m.filterQuery(P);
    EXPECT_EQ(t.withExpression(), std::nullopt);
    EXPECT_EQ(t.with(c, inner).expression(),
              sql("WITH \"c\" AS (SELECT * FROM \"m\" WHERE (\"a\" = ?)) SELECT * FROM \"t\"", 1));
    const auto two =
        t.with(c, m, std::nullopt, true)
            .with(Table("d\"x"), inner, std::vector<Expressible>{a, b}, false, MaterializationHint::materialized);
    EXPECT_EQ(*two.withExpression(),
              sql("WITH RECURSIVE \"c\" AS (SELECT * FROM \"m\"), \"d\"\"x\" (\"a\", \"b\") AS MATERIALIZED (SELECT * "
                  "FROM \"m\" WHERE (\"a\" = ?))",
                  1));
    EXPECT_EQ(compileWithClause(two.clauses.with.clauses[0]), sql("\"c\" AS (SELECT * FROM \"m\")"));
    EXPECT_EQ(compileWithClause(WithClauses::Clause{Table("e", "db").alias("f"), std::vector<Expressible>{},
                                                    MaterializationHint::notMaterialized,
                                                    std::make_shared<const QueryType>(m)}),
              sql("\"db\".\"f\" () AS NOT MATERIALIZED (SELECT * FROM \"m\")"));
}

TEST(WithAndUnionTest, UnionsComeBeforeOrderAndLimit)
{
    const auto query = t.filterQuery(P)
                           .groupQuery({a}, Q)
                           .unionQuery(m.filterQuery(equalsValue(a, 2)), true)
                           .unionQuery(m.selectColumns(a))
                           .orderQuery(a)
                           .limitQuery(4);
    EXPECT_EQ(query.expression(),
              sql("SELECT * FROM \"t\" WHERE (\"a\" = ?) GROUP BY \"a\" HAVING (\"b\" = ?) UNION ALL "
                  "SELECT * FROM \"m\" WHERE (\"a\" = ?) UNION SELECT \"a\" FROM \"m\" ORDER BY "
                  "\"a\" LIMIT 4",
                  1, "q", 2));
    const auto parts = unionExpressions(query.clauses.union_);
    ASSERT_EQ(parts.size(), 2U);
    EXPECT_EQ(parts[0], sql("UNION ALL SELECT * FROM \"m\" WHERE (\"a\" = ?)", 2));
    EXPECT_EQ(parts[1], sql("UNION SELECT \"a\" FROM \"m\""));
}

TEST(WithAndUnionTest, ClausePiecesAreAbsentWhenEmpty)
{
    EXPECT_EQ(t.joinClause(), std::nullopt);
    EXPECT_EQ(t.whereClause(), std::nullopt);
    EXPECT_EQ(t.groupByClause(), std::nullopt);
    EXPECT_EQ(t.orderClause(), std::nullopt);
    EXPECT_EQ(t.limitOffsetClause(), std::nullopt);
    EXPECT_EQ(t.selectClause(), sql("SELECT * FROM \"t\""));
    EXPECT_EQ(*t.filterQuery(P).whereClause(), sql("WHERE (\"a\" = ?)", 1));
    EXPECT_EQ(*t.limitQuery(1, 2).limitOffsetClause(), sql("LIMIT 1 OFFSET 2"));
}
