#include "sqlite/Value.h"

#include "sqlite/Statement.h"

#include <gtest/gtest.h>

using namespace sqlite;
using namespace std::chrono;

static_assert(Value<double> && Value<std::int64_t> && Value<bool> && Value<std::string> && Value<Blob>);
static_assert(Value<std::vector<std::byte>> && Value<Date> && Value<Uuid> && Value<Url>);
static_assert(!Value<int> && !Value<float> && !Value<const char*>);
static_assert(Bindable<int> && Bindable<const char*> && Bindable<std::optional<Date>> && Bindable<std::nullopt_t>);
static_assert(!Bindable<char> && !Bindable<std::uint64_t> && !Bindable<float> && !Bindable<Bindings>);
static_assert(Number<double> && Number<std::int64_t> && !Number<bool> && !Number<std::string>);

TEST(BlobTest, DescriptionIsLowerCaseHexWithLeadingZeros)
{
    EXPECT_EQ(Blob({0, 15, 16, 255}).description(), "x'000f10ff'");
    EXPECT_EQ(Blob().description(), "x''");
}

TEST(BlobTest, CopiesBytesFromPointerAndComparesByContent)
{
    const unsigned char raw[] = {1, 2, 3};
    Blob copy(raw, sizeof raw);
    EXPECT_EQ(copy, Blob({1, 2, 3}));
    EXPECT_NE(copy, Blob({1, 2}));
    EXPECT_TRUE(Blob(nullptr, 0).bytes.empty());
}

TEST(ValueTraitsTest, BooleanDeclaredDatatypeIsSettable)
{
    ValueTraits<bool>::setDeclaredDatatype("BOOLEAN");
    EXPECT_EQ(ValueTraits<bool>::declaredDatatype(), "BOOLEAN");
    ValueTraits<bool>::setDeclaredDatatype("INTEGER");
}

TEST(ValueTraitsTest, BooleanIsTrueForEveryNonZeroInteger)
{
    EXPECT_TRUE(valueFromBinding<bool>(Binding(std::int64_t{2})));
    EXPECT_TRUE(valueFromBinding<bool>(Binding(std::int64_t{-1})));
    EXPECT_FALSE(valueFromBinding<bool>(Binding(std::int64_t{0})));
    EXPECT_EQ(toBinding(true), Binding(std::int64_t{1}));
    EXPECT_EQ(toBinding(false), Binding(std::int64_t{0}));
}

TEST(ValueTraitsTest, ByteBufferRoundTripsThroughBlob)
{
    const std::vector<std::byte> buffer{std::byte{0}, std::byte{0xab}};
    EXPECT_EQ(toBinding(buffer), Binding(Blob({0, 0xab})));
    EXPECT_EQ(valueFromBinding<std::vector<std::byte>>(toBinding(buffer)), buffer);
    EXPECT_EQ(toBinding(std::vector<std::byte>{}), Binding(Blob()));
    EXPECT_TRUE(valueFromBinding<std::vector<std::byte>>(Binding(Blob())).empty());
}

TEST(DateTest, StoresGmtWithMilliseconds)
{
    const Date date = sys_days{2024y / 1 / 31} + 13h + 45min + 123ms;
    EXPECT_EQ(toBinding(date), Binding(std::string("2024-01-31T13:45:00.123")));
    EXPECT_EQ(valueFromBinding<Date>(Binding(std::string("2024-01-31T13:45:00.123"))), date);
}

TEST(DateTest, DropsDigitsBeyondMilliseconds)
{
    const Date date = sys_days{2024y / 1 / 31} + 999ms + 900us;
    EXPECT_EQ(formatDate(date), "2024-01-31T00:00:00.999");
}

TEST(DateTest, DatesBeforeTheEpochFormatTowardThePast)
{
    const Date date = sys_days{1969y / 12 / 31} + 23h + 59min + 59s + 500ms;
    EXPECT_EQ(formatDate(date), "1969-12-31T23:59:59.500");
    EXPECT_EQ(parseDate("1969-12-31T23:59:59.500"), date);
}

TEST(DateTest, TextThatIsNotADateThrowsInsteadOfStopping)
{
    for (const char* text : {"", "2024-01-31", "2024-01-31 13:45:00.123", "2024-02-30T00:00:00.000",
                             "2024-01-31T24:00:00.000", "2024-01-31T13:45:00.12x", "2024-01-31T13:45:00.1234"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseDate(text));
        EXPECT_THROW(valueFromBinding<Date>(Binding(std::string(text))), ValueError);
    }
}

TEST(UuidTest, ParsesEitherCaseAndWritesUpperCase)
{
    const auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    const auto upper = Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->text(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(toBinding(*lower), Binding(lower->text()));
}

TEST(UuidTest, RejectsMalformedText)
{
    for (const char* text : {"", "e621e1f8c36c495a93fc0c247a3e6e5f", "e621e1f8-c36c-495a-93fc-0c247a3e6e5",
                             "g621e1f8-c36c-495a-93fc-0c247a3e6e5f", "e621e1f8-c36c-495a-93fc+0c247a3e6e5f"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(valueFromBinding<Uuid>(Binding(std::string(text))), ValueError);
    }
}

TEST(UuidTest, RandomIdentifiersAreVersionFourAndDistinct)
{
    const Uuid a = Uuid::random(), b = Uuid::random();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.text()[14], '4');
    EXPECT_EQ(Uuid::parse(a.text()), a);
}

TEST(UrlTest, StoresTheAbsoluteText)
{
    const auto url = Url::parse("https://example.com/a%20b?q=1");
    ASSERT_TRUE(url);
    EXPECT_EQ(toBinding(*url), Binding(std::string("https://example.com/a%20b?q=1")));
    EXPECT_THROW(valueFromBinding<Url>(Binding(std::string(""))), ValueError);
    EXPECT_THROW(valueFromBinding<Url>(Binding(std::string("has blank"))), ValueError);
}

TEST(ValueFromBindingTest, AcceptsOnlyTheExactStoredKind)
{
    EXPECT_EQ(valueFromBinding<double>(Binding(2.5)), 2.5);
    EXPECT_EQ(valueFromBinding<std::int64_t>(Binding(std::int64_t{7})), 7);
    EXPECT_THROW(valueFromBinding<std::int64_t>(Binding(2.5)), ValueError);
    EXPECT_THROW(valueFromBinding<double>(Binding(std::int64_t{2})), ValueError);
    EXPECT_THROW(valueFromBinding<std::string>(Binding(Blob())), ValueError);
    EXPECT_THROW(valueFromBinding<Blob>(Binding(std::string("x"))), ValueError);
}

TEST(ValueFromBindingTest, OptionalFormRequiresAValue)
{
    EXPECT_EQ(valueFromBinding<std::string>(std::optional<Binding>(std::string("a"))), "a");
    EXPECT_THROW(valueFromBinding<std::string>(std::optional<Binding>()), ValueError);
}

TEST(ValueFromBindingTest, MismatchMessageNamesBothKinds)
{
    try {
        valueFromBinding<std::int64_t>(Binding(std::string("abc")));
        FAIL();
    } catch (const ValueError& e) {
        EXPECT_STREQ(e.what(), "expected a stored INTEGER value, found the TEXT value \"abc\"");
    }
}
