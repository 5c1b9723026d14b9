// Full-text table options, virtual-table modules and MATCH, including searches on real FTS4/FTS5 tables.

#include "sqlite/FTSConfig.h"
#include "sqlite/Module.h"
#include "sqlite/Operators.h"
#include "sqlite/QueryRunning.h"

#include <gtest/gtest.h>

namespace {

using namespace sqlite;

const auto title = Expression<std::string>::makeIdentifierExpression("title");
const auto body = Expression<std::string>::makeIdentifierExpression("body");
const auto id = Expression<std::int64_t>::makeIdentifierExpression("id");

std::vector<std::string> texts(const std::vector<Expressible>& arguments)
{
    std::vector<std::string> result;
    for (const Expressible& argument : arguments) {
        result.push_back(toSQLText(argument));
    }
    return result;
}

/// Creates the virtual table the way the schema layer writes it: bindings written in as literals.
void createVirtualTable(Connection& db, const std::string& name, const Module& module)
{
    db.executeScript("CREATE VIRTUAL TABLE \"" + name + "\" USING " + toSQLText(module));
}

TEST(FTSConfigTest, FTS4ArgumentsInTheirFixedOrder)
{
    FTS4Config config;
    config.addColumn(title)
        .addColumn(body, {FTSConfig::ColumnOption::unindexed})
        .setTokenizer(Tokenizer::porter())
        .addPrefixes({3, 2})
        .setContentless()
        .setOrder(FTS4Config::Order::desc);
    EXPECT_EQ(texts(config.moduleArguments()),
              (std::vector<std::string>{"\"title\"", "\"body\"", "tokenize=porter", "prefix=\"2,3\"", "content=\"\"",
                                        "notindexed=\"body\"", "order=\"desc\""}));
    config.setLanguageId("lid").setCompressFunction("zip").setUncompressFunction("unzip").setMatchInfo(
        FTS4Config::MatchInfo::fts3);
    auto arguments = texts(config.moduleArguments());
    EXPECT_EQ(std::vector<std::string>(arguments.begin() + 6, arguments.end()),
              (std::vector<std::string>{"languageid=\"lid\"", "compress=\"zip\"", "uncompress=\"unzip\"",
                                        "matchinfo=\"fts3\"", "order=\"desc\""}));
}

TEST(FTSConfigTest, EmptyConfigurationAndEmptyModule)
{
    EXPECT_TRUE(FTS5Config().moduleArguments().empty());
    EXPECT_EQ(Module::fts4(), (Module{"fts4", {}}));
}

TEST(FTSConfigTest, PrefixesSortedWithDuplicatesAcrossCalls)
{
    FTS5Config config;
    config.addPrefixes({4}).addPrefixes({2, 4});
    EXPECT_EQ(texts(config.moduleArguments()), (std::vector<std::string>{"prefix=\"2,4,4\""}));
}

TEST(FTSConfigTest, ContentlessWinsOverExternalContent)
{
    FTS5Config config;
    config.setExternalContent(Table("docs")).setContentless();
    EXPECT_EQ(texts(config.moduleArguments()), (std::vector<std::string>{"content=\"\""}));
    FTS4Config external;
    external.setExternalContent(Table("docs", "main").alias("d"));
    EXPECT_EQ(texts(external.moduleArguments()), (std::vector<std::string>{"content=\"main\".\"d\""}));
}

TEST(FTSConfigTest, FTS5OptionsAndUnindexedColumns)
{
    FTS5Config config;
    config.addColumns({title}).addColumn(body, {FTSConfig::ColumnOption::unindexed});
    config.setContentRowId(id).setColumnSize(0).setDetail(FTS5Config::Detail::column);
    auto arguments = config.moduleArguments();
    EXPECT_EQ(texts(arguments), (std::vector<std::string>{"\"title\"", "\"body\" UNINDEXED", "content_rowid=\"id\"",
                                                          "columnsize=0", "detail=\"column\""}));
    EXPECT_EQ(arguments[3].expression(), Expression<void>("columnsize=?", Bindings{Binding(std::int64_t{0})}));
}

TEST(FTSConfigTest, TokenizerTexts)
{
    struct Case {
        Tokenizer tokenizer;
        std::string description;
        std::string fts5;
    };
    const Case cases[] = {
        {Tokenizer::simple(), "simple", "simple"},
        {Tokenizer::unicode61(), "unicode61", "unicode61"},
        {Tokenizer::trigram(false), "trigram case_sensitive 0", "'trigram case_sensitive 0'"},
        {Tokenizer::trigram(true), "trigram case_sensitive 1", "'trigram case_sensitive 1'"},
        {Tokenizer::unicode61(false), "unicode61 \"remove_diacritics=0\"", "'unicode61 remove_diacritics 0'"},
        {Tokenizer::unicode61(true, "-\"-", "."),
         "unicode61 \"remove_diacritics=1\" \"tokenchars=-\"\"\" \"separators=.\"",
         "'unicode61 remove_diacritics 1 tokenchars ''-\"'' separators ''.'''"},
        {Tokenizer::custom("mine"), "\"custom\" \"mine\"", "'custom mine'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(c.tokenizer.description(), c.description);
        EXPECT_EQ(c.tokenizer.fts5Description(), c.fts5);
    }
}

TEST(FTSConfigTest, SetTokenizerWithNoneRemovesIt)
{
    FTS4Config config;
    config.setTokenizer(Tokenizer::porter()).setTokenizer(std::nullopt);
    EXPECT_TRUE(config.moduleArguments().empty());
}

// FTS5 parses a tokenizer with arguments only as one quoted option; the plain blank-separated form is refused,
// so the tokenizer could never be used. FTS4 keeps its own form, which it accepts.
TEST(FTSConfigTest, TokenizersWithArgumentsAreAcceptedBySQLite)
{
    auto db = Connection::open(Connection::Location::inMemory());
    FTS5Config trigram;
    trigram.addColumn(body).setTokenizer(Tokenizer::trigram(false));
    EXPECT_EQ(texts(trigram.moduleArguments())[1], "tokenize='trigram case_sensitive 0'");
    createVirtualTable(*db, "tri", Module::fts5(trigram));
    db->runStatement("INSERT INTO tri (body) VALUES ('Screenshot of a Terminal')");
    VirtualTable tri("tri");
    EXPECT_EQ(db->queryScalar(tri.matchQuery("TERMIN").count()), 1);

    FTS5Config unicode;
    unicode.addColumn(body).setTokenizer(Tokenizer::unicode61(false, "-'\"", "."));
    createVirtualTable(*db, "uni5", Module::fts5(unicode));
    db->runStatement("INSERT INTO uni5 (body) VALUES ('café-au-lait.menu')");
    VirtualTable uni5("uni5");
    EXPECT_EQ(db->queryScalar(uni5.matchQuery("\"café-au-lait\"").count()), 1);
    EXPECT_EQ(db->queryScalar(uni5.matchQuery("menu").count()), 1);

    FTS4Config fts4;
    fts4.addColumn(body).setTokenizer(Tokenizer::unicode61(false, "-"));
    EXPECT_EQ(texts(fts4.moduleArguments())[1], "tokenize=unicode61 \"remove_diacritics=0\" \"tokenchars=-\"");
    createVirtualTable(*db, "uni4", Module::fts4(fts4));
    db->runStatement("INSERT INTO uni4 (body) VALUES ('café-au-lait')");
    EXPECT_EQ(db->queryScalar(VirtualTable("uni4").matchQuery("café-au-lait").count()), 1);
}

TEST(ModuleTest, ConstructorsFillNameAndArguments)
{
    EXPECT_EQ(toSQLText(Module::fts4(title, body)), "fts4(\"title\", \"body\")");
    EXPECT_EQ(toSQLText(Module::fts4({title}, Tokenizer::porter())), "fts4(\"title\", tokenize=porter)");
    auto key = Expression<std::int64_t>::makeIdentifierExpression("id");
    auto c = [](const char* name) { return Expressible(Expression<double>::makeIdentifierExpression(name)); };
    Module rtree = Module::rtree(key, {{c("minX"), c("maxX")}, {c("minY"), c("maxY")}});
    EXPECT_EQ(rtree.name, "rtree");
    EXPECT_EQ(texts(rtree.arguments),
              (std::vector<std::string>{"\"id\"", "\"minX\"", "\"maxX\"", "\"minY\"", "\"maxY\""}));
}

TEST(MatchTest, ConditionTextsBindThePattern)
{
    VirtualTable docs("docs");
    EXPECT_EQ(docs.match("it's \"quoted\" OR x*"),
              Expression<bool>("(\"docs\" MATCH ?)", Bindings{Binding(std::string("it's \"quoted\" OR x*"))}));
    EXPECT_EQ(docs.alias("d").match("a").template_, "(\"d\" MATCH ?)");
    EXPECT_EQ(VirtualTable("docs", "main").match("a").template_, "(\"main\".\"docs\" MATCH ?)");
    auto pattern = Expression<std::optional<std::string>>("lower(?)", Bindings{Binding(std::string("A"))});
    static_assert(std::is_same_v<decltype(docs.match(pattern)), Expression<std::optional<bool>>>);
    EXPECT_EQ(docs.match(pattern).template_, "(\"docs\" MATCH lower(?))");
    auto twice = docs.matchQuery("a").matchQuery(Expression<std::string>("?", Bindings{Binding(std::string("b"))}));
    EXPECT_EQ(*twice.clauses.filters,
              Expression<std::optional<bool>>("((\"docs\" MATCH ?) AND (\"docs\" MATCH ?))",
                                              Bindings{Binding(std::string("a")), Binding(std::string("b"))}));
}

// The library's search: an FTS5 external-content table joined to its content table, filtered by MATCH inside
// the join, read by unqualified column.
TEST(MatchTest, ExternalContentTableSearchedInsideAJoin)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript("CREATE TABLE screenshots (id INTEGER PRIMARY KEY, name TEXT, text TEXT)");
    Table screenshots("screenshots");
    auto name = Expression<std::string>::makeIdentifierExpression("name");
    auto text = Expression<std::string>::makeIdentifierExpression("text");
    FTS5Config config;
    config.addColumns({id, name, text}).setTokenizer(Tokenizer::porter()).setExternalContent(screenshots);
    config.setContentRowId(id);
    createVirtualTable(*db, "screenshots_fts", Module::fts5(config));
    const char* rows[][2] = {{"terminal", "running builds"}, {"browser", "reading news"}, {"editor", "builder code"}};
    for (const auto& [n, t] : rows) {
        auto rowid = db->runInsert(screenshots.insertValues(assignValue(name, n), assignValue(text, t)));
        db->runStatement("INSERT INTO screenshots_fts (rowid, id, name, text) VALUES (?, ?, ?, ?)", rowid, rowid, n, t);
    }
    VirtualTable fts("screenshots_fts");
    auto search = [&](const std::string& pattern) {
        auto query = screenshots.orderQuery(screenshots[id].desc())
                         .joinQuery(fts.matchQuery(pattern), equalsExpression(fts[id], screenshots[id]))
                         .selectColumns(Expressible(screenshots[star()]));
        return db->prepareRowIterator(query).map([&](const Row& row) { return row.getValue(name); });
    };
    // "build*" with the porter stemmer finds both "builds" and "builder".
    EXPECT_EQ(search("build*"), (std::vector<std::string>{"editor", "terminal"}));
    EXPECT_EQ(search("news"), (std::vector<std::string>{"browser"}));
    EXPECT_TRUE(search("nothing").empty());
    // A pattern that FTS5 cannot parse fails when stepped, and is reported.
    EXPECT_THROW(search("\"unbalanced"), Result);
}

} // namespace
