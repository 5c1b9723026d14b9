#include "sqlite/Connection.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace sqlite;

namespace {

class FunctionTest : public ::testing::Test {
protected:
    void SetUp() override { db = Connection::open(Connection::Location::inMemory()); }

    std::optional<Binding> scalar(std::string_view sql, const Bindings& values = {}) { return db->scalar(sql, values); }

    std::shared_ptr<Connection> db;
};

Binding integer(std::int64_t v)
{
    return Binding(v);
}

Binding text(std::string v)
{
    return Binding(std::move(v));
}

// Counts the callbacks alive, to see when the connection lets one go.
struct Tracker {
    std::shared_ptr<int> token = std::make_shared<int>(0);
    long alive() const { return token.use_count() - 1; }
};

} // namespace

TEST_F(FunctionTest, ArgumentsArriveInTheirStoredKinds)
{
    Bindings received;
    db->createFunction("capture", std::nullopt, false, [&](const Bindings& arguments) {
        received = arguments;
        return std::nullopt;
    });
    const std::string withNul("a\0b", 3);
    scalar("SELECT capture(1, 2.5, ?, x'00ff', NULL, x'', ?)", {text(withNul), text("")});
    ASSERT_EQ(received.size(), 7u);
    EXPECT_EQ(received[0], integer(1));
    EXPECT_EQ(received[1], Binding(2.5));
    EXPECT_EQ(received[2], text(withNul)) << "a NUL inside a text must not cut the argument short";
    EXPECT_EQ(received[3], Binding(Blob{0x00, 0xff}));
    EXPECT_EQ(received[4], std::nullopt);
    EXPECT_EQ(received[5], Binding(Blob())) << "a zero-length blob arrives as an empty blob, not NULL";
    EXPECT_EQ(received[6], text(""));
}

TEST_F(FunctionTest, ResultsKeepTheirKindAndEveryByte)
{
    const std::string withNul("x\0y", 3);
    const std::vector<std::pair<std::optional<Binding>, std::string>> cases = {
        {integer(-7), "integer"},      {Binding(0.25), "real"}, {text(withNul), "text"},
        {Binding(Blob{1, 2}), "blob"}, {std::nullopt, "null"},  {Binding(Blob()), "blob"},
    };
    for (const auto& [result, type] : cases) {
        SCOPED_TRACE(describe(result));
        db->createFunction("give", 0, true, [result = result](const Bindings&) { return result; });
        EXPECT_EQ(scalar("SELECT typeof(give())"), text(type));
        EXPECT_EQ(scalar("SELECT give()"), result);
    }
    EXPECT_EQ(scalar("SELECT length(CAST(give() AS BLOB))"), integer(0));
}

TEST_F(FunctionTest, ArgumentCountsAreSeparateRegistrations)
{
    db->createFunction("f", 1, false, [](const Bindings&) { return text("one"); });
    db->createFunction("f", 2, false, [](const Bindings&) { return text("two"); });
    db->createFunction("any", std::nullopt, false,
                       [](const Bindings& arguments) { return integer(static_cast<std::int64_t>(arguments.size())); });
    EXPECT_EQ(scalar("SELECT f(1)"), text("one"));
    EXPECT_EQ(scalar("SELECT f(1, 2)"), text("two"));
    EXPECT_EQ(scalar("SELECT any()"), integer(0));
    EXPECT_EQ(scalar("SELECT any(1, 2, 3)"), integer(3));
    try {
        scalar("SELECT f(1, 2, 3)");
        FAIL() << "a call with an unregistered count must fail";
    } catch (const Result& error) {
        EXPECT_NE(error.message().find("wrong number of arguments"), std::string::npos) << error.what();
    }

    db->createFunction("f", 1, false, [](const Bindings&) { return text("replaced"); });
    EXPECT_EQ(scalar("SELECT f(1)"), text("replaced"));
    EXPECT_EQ(scalar("SELECT f(1, 2)"), text("two"));
}

TEST_F(FunctionTest, CallbackLivesExactlyAsLongAsItIsRegistered)
{
    Tracker first;
    Tracker second;
    db->createFunction("f", 1, false, [token = first.token](const Bindings&) { return integer(*token); });
    EXPECT_EQ(first.alive(), 1);
    EXPECT_EQ(scalar("SELECT f(0)"), integer(0));

    db->createFunction("f", 1, false, [token = second.token](const Bindings&) { return integer(*token); });
    EXPECT_EQ(first.alive(), 0) << "a replaced callback must be released";
    EXPECT_EQ(second.alive(), 1);

    db->createCollation(
        "c", [token = first.token](std::string_view, std::string_view) { return std::weak_ordering::equivalent; });
    EXPECT_EQ(first.alive(), 1);
    db.reset();
    EXPECT_EQ(first.alive(), 0) << "closing the connection releases its collations";
    EXPECT_EQ(second.alive(), 0) << "closing the connection releases its functions";
}

TEST_F(FunctionTest, DeterministicFunctionsMayIndexOthersMayNot)
{
    db->createFunction("same", 1, true, [](const Bindings& arguments) { return arguments[0]; });
    db->createFunction("varies", 1, false, [](const Bindings& arguments) { return arguments[0]; });
    db->executeScript("CREATE TABLE t (a); CREATE INDEX good ON t (same(a))");
    EXPECT_THROW(db->executeScript("CREATE INDEX bad ON t (varies(a))"), Result);
}

TEST_F(FunctionTest, CallbackRunsStatementsOnTheSameConnectionInline)
{
    db->executeScript("CREATE TABLE names (id INTEGER PRIMARY KEY, name TEXT);"
                      "INSERT INTO names (name) VALUES ('ada'), ('brian');"
                      "CREATE TABLE log (entry TEXT)");
    std::weak_ptr<Connection> weak = db;
    db->createFunction("nameOf", 1, false, [weak](const Bindings& arguments) {
        auto connection = weak.lock();
        connection->runStatement("INSERT INTO log VALUES ('looked up')");
        return connection->scalar("SELECT name FROM names WHERE id = ?", {arguments[0]});
    });

    // Run from another thread too, so the queue is taken for real and the nested statements must not wait for it.
    std::optional<Binding> fromThread;
    std::thread worker([&] { fromThread = scalar("SELECT nameOf(2)"); });
    worker.join();
    EXPECT_EQ(fromThread, text("brian"));
    EXPECT_EQ(scalar("SELECT group_concat(nameOf(id), ',') FROM names"), text("ada,brian"));
    EXPECT_EQ(scalar("SELECT count(*) FROM log"), integer(3));
}

TEST_F(FunctionTest, ThrowingCallbackBecomesTheStatementsError)
{
    db->createFunction("fail", 0, false, [](const Bindings&) -> std::optional<Binding> {
        throw std::runtime_error("cannot compute this");
    });
    try {
        scalar("SELECT fail()");
        FAIL() << "the error must reach the caller";
    } catch (const Result& error) {
        EXPECT_EQ(error.message(), "cannot compute this");
        EXPECT_EQ(error.code(), 1);
    }

    // A failing nested statement keeps its own message and code, without a second "(code: N)".
    std::weak_ptr<Connection> weak = db;
    db->createFunction("nested", 0, false,
                       [weak](const Bindings&) { return weak.lock()->scalar("SELECT * FROM nowhere"); });
    try {
        scalar("SELECT nested()");
        FAIL() << "the nested error must reach the caller";
    } catch (const Result& error) {
        EXPECT_EQ(error.message(), "no such table: nowhere");
        EXPECT_EQ(error.description(), "no such table: nowhere (code: 1)");
    }
    // The connection stays usable.
    EXPECT_EQ(scalar("SELECT 1"), integer(1));
}

TEST_F(FunctionTest, CaseInsensitiveCollationOrdersAndCompares)
{
    db->createCollation("caseless", [](std::string_view a, std::string_view b) {
        const auto lower = [](std::string_view s) {
            std::string out(s);
            for (char& c : out) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            return out;
        };
        return lower(a) <=> lower(b) == 0 ? std::weak_ordering::equivalent
               : lower(a) < lower(b)      ? std::weak_ordering::less
                                          : std::weak_ordering::greater;
    });
    db->executeScript("CREATE TABLE t (s TEXT); INSERT INTO t VALUES ('B'), ('a'), ('C')");
    EXPECT_EQ(scalar("SELECT group_concat(s, '') FROM (SELECT s FROM t ORDER BY s)"), text("BCa"));
    EXPECT_EQ(scalar("SELECT group_concat(s, '') FROM (SELECT s FROM t ORDER BY s COLLATE caseless)"), text("aBC"));
    EXPECT_EQ(scalar("SELECT 'abc' = 'ABC' COLLATE caseless"), integer(1));
}

TEST_F(FunctionTest, RefusedCollationIsReportedAndNothingIsKept)
{
    Tracker tracker;
    db->executeScript("CREATE TABLE t (s TEXT)");
    db->createCollation("kept", [](std::string_view a, std::string_view b) { return a <=> b; });
    // SQLite refuses to replace a collation while a statement runs.
    auto running = db->prepare("SELECT 1 UNION ALL SELECT 2");
    ASSERT_TRUE(running->step());
    EXPECT_THROW(db->createCollation(
                     "kept", [token = tracker.token](std::string_view a, std::string_view b) { return a <=> b; }),
                 Result);
    EXPECT_EQ(tracker.alive(), 0);
}

TEST_F(FunctionTest, RefusedRegistrationsAreFatal)
{
    EXPECT_DEATH(db->createFunction("f", -2, false, [](const Bindings&) { return std::nullopt; }),
                 "SQLite/Connection:[0-9]+: Fatal error: invalid argument count: -2");
    EXPECT_DEATH(db->createFunction("f", 5000, false, [](const Bindings&) { return std::nullopt; }),
                 "SQLite/Connection:[0-9]+: Fatal error: Error creating function: .*code: 21");
}
