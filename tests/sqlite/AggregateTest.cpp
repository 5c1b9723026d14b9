#include "sqlite/Connection.h"

#include <gtest/gtest.h>
#include <memory>

using namespace sqlite;

namespace {

class AggregateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE sales (region TEXT, amount INTEGER);"
                          "INSERT INTO sales VALUES ('north', 3), ('south', 10), ('north', 4), ('south', 1),"
                          "('east', NULL)");
    }

    std::vector<Bindings> rows(std::string_view sql) { return db->prepare(sql)->fetchAllRows(); }

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

// A sum that counts its rows too, kept as a plain value.
struct Tally {
    std::int64_t sum = 0;
    std::int64_t rows = 0;
};

void registerTally(Connection& db, std::optional<std::int64_t> argumentCount = 1)
{
    db.registerAggregate<Tally>(
        "tally", argumentCount, true, Tally{},
        [](Tally state, const Bindings& arguments) {
            for (const auto& argument : arguments) {
                if (argument) {
                    state.sum += std::get<std::int64_t>(*argument);
                }
            }
            ++state.rows;
            return state;
        },
        [](const Tally& state) { return text(std::to_string(state.sum) + "/" + std::to_string(state.rows)); });
}

} // namespace

TEST_F(AggregateTest, EachGroupFoldsItsOwnState)
{
    registerTally(*db);
    EXPECT_EQ(rows("SELECT region, tally(amount) FROM sales GROUP BY region ORDER BY region"),
              (std::vector<Bindings>{
                  {text("east"), text("0/1")}, {text("north"), text("7/2")}, {text("south"), text("11/2")}}));
    // Two evaluations in one statement, and a second run of the same statement, start afresh.
    const auto statement = db->prepare("SELECT tally(amount), tally(amount * 10) FROM sales");
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(statement->fetchAllRows(), (std::vector<Bindings>{{text("18/5"), text("180/5")}}));
    }
}

TEST_F(AggregateTest, GroupWithoutRowsGetsTheInitialState)
{
    int results = 0;
    db->registerAggregate<Tally>(
        "tally", 1, false, Tally{.sum = 100, .rows = 0}, [](Tally state, const Bindings&) { return state; },
        [&](const Tally& state) {
            ++results;
            return integer(state.sum);
        });
    EXPECT_EQ(db->scalar("SELECT tally(amount) FROM sales WHERE 0"), integer(100));
    EXPECT_EQ(results, 1);
}

TEST_F(AggregateTest, ReRegistrationReplacesAndReleasesTheOld)
{
    auto token = std::make_shared<int>(1);
    db->registerAggregate<int>(
        "agg", 1, false, 0, [token](int state, const Bindings&) { return state + *token; },
        [](const int& state) { return integer(state); });
    EXPECT_EQ(db->scalar("SELECT agg(amount) FROM sales"), integer(5));
    db->registerAggregate<int>(
        "agg", 1, false, 0, [](int state, const Bindings&) { return state + 2; },
        [](const int& state) { return integer(state); });
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(db->scalar("SELECT agg(amount) FROM sales"), integer(10));
}

TEST_F(AggregateTest, ThrowingCallbacksBecomeTheStatementsError)
{
    int finals = 0;
    db->registerAggregate<int>(
        "picky", 1, false, 0,
        [](int state, const Bindings& arguments) {
            if (!arguments[0]) {
                throw std::invalid_argument("picky refuses NULL");
            }
            return state + 1;
        },
        [&](const int& state) {
            ++finals;
            return integer(state);
        });
    try {
        db->scalar("SELECT picky(amount) FROM sales");
        FAIL() << "the step's error must reach the caller";
    } catch (const Result& error) {
        EXPECT_EQ(error.message(), "picky refuses NULL");
    }
    EXPECT_EQ(db->scalar("SELECT picky(amount) FROM sales WHERE amount IS NOT NULL"), integer(4));

    db->registerAggregate<int>(
        "badEnd", 1, false, 0, [](int state, const Bindings&) { return state; },
        [](const int&) -> std::optional<Binding> { throw std::runtime_error("no result today"); });
    try {
        db->scalar("SELECT badEnd(amount) FROM sales");
        FAIL() << "the final's error must reach the caller";
    } catch (const Result& error) {
        EXPECT_EQ(error.message(), "no result today");
    }
}

TEST_F(AggregateTest, AStepThatThrowsEndsItsGroupWithoutAResult)
{
    // `reduce` takes the state by value; once it has thrown, that state is gone, so `result` must not be handed
    // what is left of it.
    std::vector<std::string> seen;
    db->registerAggregate<std::string>(
        "joined", 1, false, std::string("regions:"),
        [](std::string state, const Bindings& arguments) {
            if (!arguments[0]) {
                throw std::invalid_argument("joined refuses NULL");
            }
            return state + " " + std::get<std::string>(*arguments[0]);
        },
        [&](const std::string& state) {
            seen.push_back(state);
            return text(state);
        });
    EXPECT_THROW(db->scalar("SELECT joined(x) FROM (SELECT 'north' AS x UNION ALL SELECT NULL)"), Result);
    EXPECT_EQ(seen, std::vector<std::string>{});
    EXPECT_EQ(db->scalar("SELECT joined(region) FROM (SELECT region FROM sales WHERE region < 'p' ORDER BY region)"),
              text("regions: east north north"));
    EXPECT_EQ(seen, std::vector<std::string>{"regions: east north north"});
}

TEST_F(AggregateTest, StepsMayRunStatementsOnTheSameConnection)
{
    db->executeScript("CREATE TABLE rates (region TEXT PRIMARY KEY, rate INTEGER);"
                      "INSERT INTO rates VALUES ('north', 2), ('south', 3), ('east', 5)");
    std::weak_ptr<Connection> weak = db;
    db->registerAggregate<std::int64_t>(
        "weighted", 2, false, 0,
        [weak](std::int64_t state, const Bindings& arguments) {
            const auto rate = weak.lock()->scalar("SELECT rate FROM rates WHERE region = ?", {arguments[0]});
            return state + (arguments[1] ? std::get<std::int64_t>(*arguments[1]) : 0) * std::get<std::int64_t>(*rate);
        },
        [](const std::int64_t& state) { return integer(state); });
    EXPECT_EQ(rows("SELECT region, weighted(region, amount) FROM sales GROUP BY region ORDER BY region"),
              (std::vector<Bindings>{
                  {text("east"), integer(0)}, {text("north"), integer(14)}, {text("south"), integer(33)}}));
}

TEST_F(AggregateTest, SharedObjectStateStartsEveryGroupFromTheSameObject)
{
    struct Counter {
        std::int64_t rows = 0;
    };
    // Returning a new object per row keeps groups apart…
    auto initial = std::make_shared<Counter>();
    db->registerAggregate<Counter>(
        "fresh", 1, false, initial,
        [](std::shared_ptr<Counter> state, const Bindings&) {
            return std::make_shared<Counter>(Counter{state->rows + 1});
        },
        [](const std::shared_ptr<Counter>& state) { return integer(state->rows); });
    EXPECT_EQ(rows("SELECT fresh(amount) FROM sales GROUP BY region ORDER BY region"),
              (std::vector<Bindings>{{integer(1)}, {integer(2)}, {integer(2)}}));
    EXPECT_EQ(initial->rows, 0);

    // …changing it in place carries the count from one group into the next, as the interface warns.
    db->registerAggregate<Counter>(
        "inPlace", 1, false, initial,
        [](std::shared_ptr<Counter> state, const Bindings&) {
            ++state->rows;
            return state;
        },
        [](const std::shared_ptr<Counter>& state) { return integer(state->rows); });
    EXPECT_EQ(rows("SELECT inPlace(amount) FROM sales GROUP BY region ORDER BY region"),
              (std::vector<Bindings>{{integer(1)}, {integer(3)}, {integer(5)}}));
}

TEST_F(AggregateTest, RefusedRegistrationIsFatal)
{
    const auto registerWith = [&](std::optional<std::int64_t> count) {
        db->registerAggregate<int>(
            "agg", count, false, 0, [](int state, const Bindings&) { return state; },
            [](const int& state) { return integer(state); });
    };
    EXPECT_DEATH(registerWith(std::int64_t{2147483648}),
                 "SQLite/Connection:[0-9]+: Fatal error: invalid argument count");
    EXPECT_DEATH(registerWith(5000), "SQLite/Connection:[0-9]+: Fatal error: Error creating function: ");
}
