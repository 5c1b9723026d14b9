#include "sqlite/Coding.h"
#include "sqlite/Connection.h"
#include "sqlite/Query.h"

#include <gtest/gtest.h>
#include <limits>
#include <map>

using namespace sqlite;

namespace {

Binding integer(std::int64_t v)
{
    return Binding(v);
}

Binding text(std::string v)
{
    return Binding(std::move(v));
}

struct Address {
    std::string city;
    std::int64_t zip = 0;
    bool operator==(const Address&) const = default;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Address, city, zip)

// Two optional fields, either of which may be absent.
struct Pair {
    std::optional<std::int64_t> a;
    std::optional<std::string> b;
    std::optional<std::int64_t> c;

    void encode(Encoder& encoder) const
    {
        auto container = encoder.container();
        container.encodeIfPresent(a, "a");
        container.encodeIfPresent(b, "b");
        container.encodeIfPresent(c, "c");
    }
};

// Encodes one value of any kind under "v".
template <class T> struct Single {
    T value;
    void encode(Encoder& encoder) const { encoder.container().encode(value, "v"); }
};

class EncodingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE pairs (a INTEGER, b TEXT DEFAULT 'default b', c INTEGER)");
    }

    void run(const CompiledStatement& statement) { db->prepare(statement.template_, statement.bindings)->runToEnd(); }
    std::vector<Bindings> rows(std::string_view sql) { return db->prepare(sql)->fetchAllRows(); }

    std::shared_ptr<Connection> db;
    Table pairs{"pairs"};
};

} // namespace

TEST_F(EncodingTest, FieldsBecomeSettersInEncodeOrder)
{
    const Insert insert = pairs.insertEncodable(Pair{1, "one", 2});
    EXPECT_EQ(insert.template_, "INSERT INTO \"pairs\" (\"a\", \"b\", \"c\") VALUES (?, ?, ?)");
    EXPECT_EQ(insert.bindings, (Bindings{integer(1), text("one"), integer(2)}));
}

TEST_F(EncodingTest, AbsentOptionalsAreLeftOutAndOtherSettersComeLast)
{
    const Insert insert = pairs.insertEncodable(
        Pair{std::nullopt, "x", std::nullopt}, {},
        {Setter(Expression<void>("\"c\""), Expression<void>("?", {integer(9)}))}, OnConflict::replace);
    EXPECT_EQ(insert.template_, "INSERT OR REPLACE INTO \"pairs\" (\"b\", \"c\") VALUES (?, ?)");
    EXPECT_EQ(insert.bindings, (Bindings{text("x"), integer(9)}));

    run(pairs.insertEncodable(Pair{1, std::nullopt, std::nullopt}));
    EXPECT_EQ(rows("SELECT a, b, c FROM pairs WHERE a = 1"),
              (std::vector<Bindings>{{integer(1), text("default b"), std::nullopt}}))
        << "a left-out column gets its default";
}

TEST_F(EncodingTest, UpdateLeavesAbsentFieldsAndNullsExplicitNils)
{
    struct Rename {
        std::string b;
        bool clearC = false;
        void encode(Encoder& encoder) const
        {
            auto container = encoder.container();
            container.encode(b, "b");
            if (clearC) {
                container.encodeNil("c");
            }
        }
    };
    run(pairs.insertEncodable(Pair{1, "one", 10}));
    run(pairs.updateEncodable(Rename{"renamed"}));
    EXPECT_EQ(rows("SELECT a, b, c FROM pairs"), (std::vector<Bindings>{{integer(1), text("renamed"), integer(10)}}));
    const Update update = pairs.updateEncodable(Rename{"again", true});
    EXPECT_EQ(update.template_, "UPDATE \"pairs\" SET \"b\" = ?, \"c\" = ?");
    run(update);
    EXPECT_EQ(rows("SELECT a, b, c FROM pairs"), (std::vector<Bindings>{{integer(1), text("again"), std::nullopt}}));
}

TEST_F(EncodingTest, UpsertUpdatesTheOtherColumnsOnConflict)
{
    db->executeScript("CREATE UNIQUE INDEX by_a ON pairs (a)");
    run(pairs.upsertEncodable(Pair{1, "first", 1}, Expression<void>("\"a\"")));
    run(pairs.upsertEncodable(Pair{1, "second", 2}, Expression<void>("\"a\"")));
    EXPECT_EQ(rows("SELECT a, b, c FROM pairs"), (std::vector<Bindings>{{integer(1), text("second"), integer(2)}}));
}

TEST_F(EncodingTest, ManyRecordsWithTheSameFieldsKeepTheirSetters)
{
    const std::vector<Pair> records = {{1, "one", std::nullopt}, {2, "two", std::nullopt}};
    const Insert insert = pairs.insertManyEncodables(records);
    EXPECT_EQ(insert.template_, "INSERT INTO \"pairs\" (\"a\", \"b\") VALUES (?, ?), (?, ?)");
    run(insert);
    EXPECT_EQ(
        rows("SELECT a, b, c FROM pairs ORDER BY a"),
        (std::vector<Bindings>{{integer(1), text("one"), std::nullopt}, {integer(2), text("two"), std::nullopt}}));
}

TEST_F(EncodingTest, ManyRecordsWithDifferentAbsentFieldsStoreEveryValueUnderItsColumn)
{
    struct Case {
        std::string name;
        std::vector<Pair> records;
        std::vector<Bindings> stored;
    };
    const std::vector<Case> cases = {
        {"different counts",
         {{1, std::nullopt, std::nullopt}, {2, "two", std::nullopt}},
         {{integer(1), std::nullopt, std::nullopt}, {integer(2), text("two"), std::nullopt}}},
        // As many setters per record, naming other columns: counting alone would put "x" under c's column.
        {"same count, other columns",
         {{1, "x", std::nullopt}, {2, std::nullopt, 20}},
         {{integer(1), text("x"), std::nullopt}, {integer(2), std::nullopt, integer(20)}}},
        // An absent 64-bit integer must get its NULL setter too, or the rows still differ.
        {"absent 64-bit integer",
         {{std::nullopt, "x", 10}, {3, "y", 30}},
         {{std::nullopt, text("x"), integer(10)}, {integer(3), text("y"), integer(30)}}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        db->executeScript("DELETE FROM pairs");
        run(pairs.insertManyEncodables(testCase.records));
        EXPECT_EQ(rows("SELECT a, b, c FROM pairs ORDER BY rowid"), testCase.stored);
    }
}

TEST_F(EncodingTest, RecordsThatWriteOtherColumnsAreAnError)
{
    struct Choosy {
        bool first;
        void encode(Encoder& encoder) const { encoder.container().encode(std::int64_t{1}, first ? "a" : "c"); }
    };
    const std::vector<Choosy> records = {{true}, {false}};
    try {
        pairs.insertManyEncodables(records);
        FAIL() << "records naming other columns must not be inserted under the first one's";
    } catch (const EncodingError& error) {
        EXPECT_EQ(error.value(), "record 1");
    }
}

TEST_F(EncodingTest, NoRecordsAtAll)
{
    const std::vector<Pair> none;
    run(pairs.insertManyEncodables(none));
    EXPECT_EQ(db->scalar("SELECT count(*) FROM pairs"), integer(0));
}

TEST_F(EncodingTest, ValueKindsAndTheirStoredForms)
{
    const auto bound = [](const auto& record) { return Table("t").insertEncodable(record).bindings.at(0); };
    EXPECT_EQ(bound(Single<bool>{true}), integer(1));
    EXPECT_EQ(bound(Single<bool>{false}), integer(0));
    EXPECT_EQ(bound(Single<std::int64_t>{-5}), integer(-5));
    EXPECT_EQ(bound(Single<long long>{7}), integer(7));
    EXPECT_EQ(bound(Single<double>{0.1}), Binding(0.1));
    EXPECT_EQ(bound(Single<float>{0.1f}), Binding(static_cast<double>(0.1f)));
    EXPECT_NE(bound(Single<float>{0.1f}), Binding(0.1));
    EXPECT_EQ(bound(Single<std::string>{"text"}), text("text"));
    EXPECT_EQ(bound(Single<Blob>{Blob{1, 2}}), Binding(Blob{1, 2}));
    EXPECT_EQ(bound(Single<std::vector<std::byte>>{{std::byte{3}}}), Binding(Blob{3}));
    const Date date = std::chrono::sys_days(std::chrono::year(2024) / 3 / 1) + std::chrono::milliseconds(1500);
    EXPECT_EQ(bound(Single<Date>{date}), text("2024-03-01T00:00:01.500"));
    const Uuid uuid = *Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    EXPECT_EQ(bound(Single<Uuid>{uuid}), text("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    // Anything else is JSON text: a URL is not stored as its plain text.
    EXPECT_EQ(bound(Single<Url>{*Url::parse("https://example.com/a")}), text("\"https://example.com/a\""));
    EXPECT_EQ(bound(Single<Address>{{"Oslo", 150}}), text("{\"city\":\"Oslo\",\"zip\":150}"));
    EXPECT_EQ(bound(Single<std::vector<std::string>>{{"a", "b"}}), text("[\"a\",\"b\"]"));
}

TEST_F(EncodingTest, UnsupportedIntegerKindsAreRefused)
{
    const auto refusal = [](const auto& record) {
        try {
            Table("t").insertEncodable(record);
        } catch (const EncodingError& error) {
            EXPECT_TRUE(error.context().codingPath.empty());
            return error.debugDescription();
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal(Single<std::int8_t>{1}), "encoding an Int8 is not supported");
    EXPECT_EQ(refusal(Single<std::int16_t>{1}), "encoding an Int16 is not supported");
    EXPECT_EQ(refusal(Single<std::int32_t>{1}), "encoding an Int32 is not supported");
    EXPECT_EQ(refusal(Single<unsigned long long>{1}), "encoding an UInt is not supported");
    EXPECT_EQ(refusal(Single<std::uint8_t>{1}), "encoding an UInt8 is not supported");
    EXPECT_EQ(refusal(Single<std::uint16_t>{1}), "encoding an UInt16 is not supported");
    EXPECT_EQ(refusal(Single<std::uint32_t>{1}), "encoding an UInt32 is not supported");
    EXPECT_EQ(refusal(Single<std::uint64_t>{1}), "encoding an UInt64 is not supported");

    // An absent one is skipped, even when forcing NULL setters.
    struct Narrow {
        std::optional<std::int32_t> n;
        void encode(Encoder& encoder) const { encoder.container().encodeIfPresent(n, "n"); }
    };
    EXPECT_TRUE(encodeSetters(Narrow{}, {}, {}, true).empty());
    EXPECT_THROW(encodeSetters(Narrow{5}, {}, {}, true), EncodingError);
}

TEST_F(EncodingTest, KeysAreQuotedColumnsAndUserInfoReachesTheRecord)
{
    struct Odd {
        void encode(Encoder& encoder) const
        {
            auto container = encoder.container();
            container.encode(std::any_cast<std::string>(encoder.userInfo().at("value")), "a\"b");
        }
    };
    const Insert insert = Table("t").insertEncodable(Odd{}, {{"value", std::string("from caller")}});
    EXPECT_EQ(insert.template_, "INSERT INTO \"t\" (\"a\"\"b\") VALUES (?)");
    EXPECT_EQ(insert.bindings, (Bindings{text("from caller")}));
}

TEST_F(EncodingTest, ErrorsOfTheRecordPassThrough)
{
    struct Failing {
        void encode(Encoder&) const { throw std::runtime_error("record refused"); }
    };
    EXPECT_THROW(pairs.insertEncodable(Failing{}), std::runtime_error);
    // Text that JSON cannot carry is nlohmann's error.
    EXPECT_THROW(Table("t").insertEncodable(Single<std::vector<std::string>>{{"\xff"}}), nlohmann::json::exception);
}

TEST_F(EncodingTest, NestedNumbersThatJSONCannotHoldAreRefused)
{
    // Written as null, they could never be read back into the record.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<std::vector<double>, std::string>> cases = {
        {{1, nan}, "nan"}, {{infinity}, "inf"}, {{-infinity, 2}, "-inf"}};
    for (const auto& [numbers, printed] : cases) {
        SCOPED_TRACE(printed);
        try {
            Table("t").insertEncodable(Single<std::map<std::string, std::vector<double>>>{{{"n", numbers}}});
            ADD_FAILURE() << "a number that JSON cannot hold must be refused";
        } catch (const EncodingError& error) {
            EXPECT_EQ(error.value(), printed);
        }
    }
    EXPECT_EQ(Table("t").insertEncodable(Single<std::vector<double>>{{0.5, -1e300}}).bindings.at(0),
              text("[0.5,-1e+300]"));
}

TEST(EncodingDeathTest, NestedContainersAreFatal)
{
    Encoder encoder;
    EXPECT_DEATH(encoder.unkeyedContainer(), "SQLite/Coding:[0-9]+: Fatal error: not supported");
    EXPECT_DEATH(encoder.container().nestedContainer("k"),
                 "SQLite/Coding:[0-9]+: Fatal error: encoding a nested container is not supported");
    EXPECT_DEATH(encoder.container().superEncoder(), "SQLiteEncoding does not support super encoders");
}
