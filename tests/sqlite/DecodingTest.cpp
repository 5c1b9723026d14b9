#include "sqlite/Coding.h"
#include "sqlite/Connection.h"
#include "sqlite/Query.h"
#include "sqlite/QueryRunning.h"

#include <gtest/gtest.h>

using namespace sqlite;

namespace {

Binding integer(std::int64_t v)
{
    return Binding(v);
}

struct Address {
    std::string city;
    std::vector<std::string> lines;
    std::map<std::string, std::int64_t> codes;
    bool operator==(const Address&) const = default;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Address, city, lines, codes)

enum class Role { viewer, editor };
NLOHMANN_JSON_SERIALIZE_ENUM(Role, {{Role::viewer, "viewer"}, {Role::editor, "editor"}})

// A record with a field of every kind that the coders store, nested values included.
struct Person {
    std::optional<std::int64_t> id;
    std::string name;
    bool active = false;
    double score = 0;
    float ratio = 0;
    Blob avatar;
    std::vector<std::byte> raw;
    Date born;
    Uuid uuid;
    Url homepage = *Url::parse("https://example.com");
    Address address;
    std::optional<Address> previous;
    Role role = Role::viewer;
    std::optional<std::string> nickname;

    bool operator==(const Person&) const = default;

    void encode(Encoder& encoder) const
    {
        auto c = encoder.container();
        c.encodeIfPresent(id, "id");
        c.encode(name, "name");
        c.encode(active, "active");
        c.encode(score, "score");
        c.encode(ratio, "ratio");
        c.encode(avatar, "avatar");
        c.encode(raw, "raw");
        c.encode(born, "born");
        c.encode(uuid, "uuid");
        c.encode(homepage, "homepage");
        c.encode(address, "address");
        c.encodeIfPresent(previous, "previous");
        c.encode(role, "role");
        c.encodeIfPresent(nickname, "nickname");
    }

    static Person decode(Decoder& decoder)
    {
        auto c = decoder.container();
        return Person{c.decodeIfPresent<std::int64_t>("id"),
                      c.decode<std::string>("name"),
                      c.decode<bool>("active"),
                      c.decode<double>("score"),
                      c.decode<float>("ratio"),
                      c.decode<Blob>("avatar"),
                      c.decode<std::vector<std::byte>>("raw"),
                      c.decode<Date>("born"),
                      c.decode<Uuid>("uuid"),
                      c.decode<Url>("homepage"),
                      c.decode<Address>("address"),
                      c.decodeIfPresent<Address>("previous"),
                      c.decode<Role>("role"),
                      c.decodeIfPresent<std::string>("nickname")};
    }
};

class DecodingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, active INTEGER, score REAL,"
                          " ratio REAL, avatar BLOB, raw BLOB, born TEXT, uuid TEXT, homepage TEXT, address TEXT,"
                          " previous TEXT, role TEXT, nickname TEXT)");
    }

    Row row(std::string_view sql, const Bindings& values = {})
    {
        auto rows = db->prepareRowIterator(sql, values);
        return *rows.failableNext();
    }
    KeyedDecodingContainer container(std::string_view sql) { return Decoder(row(sql)).container(); }

    template <class E, class F> E error(F&& work)
    {
        try {
            work();
        } catch (const E& caught) {
            return caught;
        }
        throw std::logic_error("no error of the expected type was thrown");
    }

    std::shared_ptr<Connection> db;
    Table people{"people"};
};

Person sample()
{
    Person person;
    person.name = "Ada \"the\" Countess";
    person.active = true;
    person.score = 0.1;
    person.ratio = 0.1f;
    person.avatar = Blob{0, 1, 255};
    person.raw = {std::byte{7}};
    person.born = std::chrono::sys_days(std::chrono::year(1815) / 12 / 10) + std::chrono::milliseconds(123);
    person.uuid = Uuid::random();
    person.homepage = *Url::parse("https://example.com/ada?x=1");
    person.address = Address{"London", {"12 St James's Sq", "ü ✓"}, {{"zip", 1}, {"floor", -2}}};
    person.role = Role::editor;
    return person;
}

} // namespace

TEST_F(DecodingTest, RecordsWithNestedValuesRoundTrip)
{
    Person first = sample();
    Person second = sample();
    second.name = "Grace";
    second.previous = Address{"Arlington", {}, {}};
    second.nickname = "Amazing";
    second.active = false;
    const std::int64_t firstId = db->runInsert(people.insertEncodable(first));
    const std::vector<Person> more = {second};
    db->runInsert(people.insertManyEncodables(more));
    first.id = firstId;
    second.id = firstId + 1;

    auto rows = db->prepareQuery(people.orderQuery(Expression<std::int64_t>("\"id\"").asc()));
    const std::vector<Person> read = rows.map([](const Row& r) { return r.decode<Person>(); });
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0], first);
    EXPECT_EQ(read[1], second);
    // What is stored: the nested value as JSON text, the float at its own precision.
    EXPECT_EQ(
        db->scalar("SELECT address FROM people WHERE id = ?", {integer(firstId)}),
        Binding(std::string(R"({"city":"London","codes":{"floor":-2,"zip":1},"lines":["12 St James's Sq","ü ✓"]})")));
    EXPECT_EQ(db->scalar("SELECT ratio FROM people WHERE id = ?", {integer(firstId)}),
              Binding(static_cast<double>(0.1f)));

    // Updating through the record changes what it encodes.
    second.score = 2.5;
    db->runUpdate(
        people.filterQuery(equalsValue(Expression<std::int64_t>("\"id\""), *second.id)).updateEncodable(second));
    EXPECT_EQ(
        db->pluck(people.filterQuery(equalsValue(Expression<std::int64_t>("\"id\""), *second.id)))->decode<Person>(),
        second);
}

TEST_F(DecodingTest, StoredKindsConvertOrCountAsAbsent)
{
    const auto c = container("SELECT 2 AS two, 0 AS zero, 42 AS number, 'text' AS word, 1.5 AS real, NULL AS absent");
    EXPECT_TRUE(c.decode<bool>("two"));
    EXPECT_FALSE(c.decode<bool>("zero"));
    EXPECT_EQ(c.decode<std::int64_t>("number"), 42);
    EXPECT_EQ(c.decode<double>("real"), 1.5);
    // Another storage class is no value: an integer is not text, nor a float.
    const std::vector<std::string> keys = {"number", "absent"};
    for (const auto& key : keys) {
        SCOPED_TRACE(key);
        const auto e = error<QueryError>([&] { c.decode<std::string>(key); });
        EXPECT_EQ(e.kind(), QueryError::Kind::unexpectedNullValue);
        EXPECT_EQ(e.name(), "\"" + key + "\"");
        EXPECT_EQ(c.decodeIfPresent<std::string>(key), std::nullopt);
    }
    EXPECT_THROW(c.decode<double>("number"), QueryError);
    EXPECT_EQ(c.decodeIfPresent<std::int64_t>("missing"), std::nullopt);
    EXPECT_TRUE(c.contains("number"));
    EXPECT_FALSE(c.contains("absent"));
    EXPECT_TRUE(c.decodeNil("absent"));
    EXPECT_FALSE(c.contains("missing"));
}

TEST_F(DecodingTest, ColumnLookupWithQualifiedNames)
{
    db->executeScript("CREATE TABLE screenshots (id INTEGER, name TEXT); CREATE TABLE folders (id INTEGER);"
                      "INSERT INTO screenshots VALUES (1, 'shot'); INSERT INTO folders VALUES (2)");
    const Table screenshots("screenshots");
    const Table folders("folders");
    const Expression<bool> on("1");
    auto rows = db->prepareQuery(screenshots.joinQuery(folders, on));
    const Row joined = *rows.failableNext();
    const auto c = Decoder(joined).container();

    const auto ambiguous = error<QueryError>([&] { c.decode<std::int64_t>("id"); });
    EXPECT_EQ(ambiguous.kind(), QueryError::Kind::ambiguousColumn);
    EXPECT_EQ(ambiguous.columns(), (std::vector<std::string>{"\"folders\".\"id\"", "\"screenshots\".\"id\""}));
    EXPECT_EQ(c.decodeIfPresent<std::int64_t>("id"), std::nullopt);

    // Found through the qualified name, yet not "contained": that looks at exact names only.
    EXPECT_EQ(c.decode<std::string>("name"), "shot");
    EXPECT_FALSE(c.contains("name"));
    EXPECT_TRUE(c.decodeNil("name"));

    const auto missing = error<QueryError>([&] { c.decode<std::string>("title"); });
    EXPECT_EQ(missing.kind(), QueryError::Kind::noSuchColumn);
    EXPECT_EQ(missing.columns(),
              (std::vector<std::string>{"\"folders\".\"id\"", "\"screenshots\".\"id\"", "\"screenshots\".\"name\""}));
    std::vector<std::string> keys = c.allKeys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, missing.columns());
}

TEST_F(DecodingTest, NestedValueErrors)
{
    const auto c = container("SELECT NULL AS absent, '{\"city\": 5}' AS wrong, 'not json' AS broken, "
                             "CAST(x'22ff22' AS TEXT) AS badUtf8, 7 AS number");
    const auto nullValue = error<DecodingError>([&] { c.decode<Address>("absent"); });
    EXPECT_EQ(nullValue.kind(), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(nullValue.debugDescription(), "an unsupported type was found");
    EXPECT_EQ(nullValue.type(), "(anonymous namespace)::Address");
    EXPECT_EQ(c.decodeIfPresent<Address>("absent"), std::nullopt);
    EXPECT_EQ(c.decodeIfPresent<Address>("number"), std::nullopt) << "an integer is no JSON text";

    EXPECT_THROW(c.decode<Address>("wrong"), nlohmann::json::exception);
    EXPECT_THROW(c.decodeIfPresent<Address>("broken"), nlohmann::json::exception);
    const auto utf8 = error<DecodingError>([&] { c.decode<Url>("badUtf8"); });
    EXPECT_EQ(utf8.kind(), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(utf8.debugDescription(), "invalid utf8 data found");
    EXPECT_THROW(c.decodeIfPresent<Address>("missing"), QueryError) << "lookup errors of nested values pass through";
}

TEST_F(DecodingTest, DatesAndUuidsThatDoNotParse)
{
    const auto c = container("SELECT 'yesterday' AS day, 'not-a-uuid' AS id");
    EXPECT_EQ(error<DecodingError>([&] { c.decode<Date>("day"); }).kind(), DecodingError::Kind::dataCorrupted);
    EXPECT_THROW(c.decode<Uuid>("id"), DecodingError);
    EXPECT_EQ(c.decodeIfPresent<Date>("day"), std::nullopt);
    EXPECT_EQ(c.decodeIfPresent<Uuid>("id"), std::nullopt);
}

TEST_F(DecodingTest, UnsupportedIntegerKinds)
{
    const auto c = container("SELECT 1 AS one, NULL AS absent");
    const auto refusal = [&](auto kind) {
        using T = decltype(kind);
        return error<DecodingError>([&] { c.decode<T>("one"); }).debugDescription();
    };
    EXPECT_EQ(refusal(std::int8_t{}), "decoding an Int8 is not supported");
    EXPECT_EQ(refusal(std::int16_t{}), "decoding an Int16 is not supported");
    EXPECT_EQ(refusal(std::int32_t{}), "decoding an Int32 is not supported");
    EXPECT_EQ(refusal(0ull), "decoding an UInt is not supported");
    EXPECT_EQ(refusal(std::uint8_t{}), "decoding an UInt8 is not supported");
    EXPECT_EQ(refusal(std::uint16_t{}), "decoding an UInt16 is not supported");
    EXPECT_EQ(refusal(std::uint32_t{}), "decoding an UInt32 is not supported");
    EXPECT_EQ(refusal(std::uint64_t{}), "decoding an UInt64 is not supported");
    EXPECT_EQ(c.decodeIfPresent<std::int8_t>("absent"), std::nullopt);
    EXPECT_EQ(c.decodeIfPresent<std::int8_t>("missing"), std::nullopt);
    EXPECT_THROW(c.decodeIfPresent<std::int8_t>("one"), DecodingError);
}

TEST_F(DecodingTest, ContainersThatRecordsDoNotHave)
{
    Decoder decoder(row("SELECT 1 AS one"), {{"flag", true}});
    EXPECT_TRUE(std::any_cast<bool>(decoder.userInfo().at("flag")));
    const auto c = decoder.container();
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { decoder.unkeyedContainer(); }, "decoding an unkeyed container is not supported"},
        {[&] { decoder.singleValueContainer(); }, "decoding a single value container is not supported"},
        {[&] { c.nestedContainer("one"); }, "decoding nested containers is not supported"},
        {[&] { c.nestedUnkeyedContainer("one"); }, "decoding unkeyed containers is not supported"},
        {[&] { c.superDecoder(); }, "decoding super encoders containers is not supported"},
        {[&] { c.superDecoder("one"); }, "decoding super decoders is not supported"},
    };
    for (const auto& [work, message] : cases) {
        const auto e = error<DecodingError>(work);
        EXPECT_EQ(e.kind(), DecodingError::Kind::dataCorrupted);
        EXPECT_EQ(e.debugDescription(), message);
    }
}
