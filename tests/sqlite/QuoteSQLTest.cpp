#include "sqlite/QuoteSQL.h"

#include <gtest/gtest.h>

using sqlite::quoteSQL;

TEST(QuoteSQLTest, DoublesTheMarkAndNothingElse)
{
    struct Case {
        std::string text;
        char mark;
        std::string quoted;
    };
    const std::vector<Case> cases{
        {"a\"b", '"', "\"a\"\"b\""},
        {"it's", '\'', "'it''s'"},
        {"", '"', "\"\""},
        {"", '\'', "''"},
        {"it's", '"', "\"it's\""},
        {"a\"b", '\'', "'a\"b'"},
        {std::string("a\0\nb", 4), '"', std::string("\"a\0\nb\"", 6)},
        {"\"\"", '"', "\"\"\"\"\"\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(quoteSQL(c.text, c.mark), c.quoted);
    }
    EXPECT_EQ(quoteSQL("name"), "\"name\"");
}

// A quote followed by a combining accent is one user-perceived character, but to SQLite it is still a quote
// byte: leaving it single would end the literal early and let the rest of the text run as SQL.
TEST(QuoteSQLTest, DoublesAMarkFollowedByACombiningCharacter)
{
    EXPECT_EQ(quoteSQL("a'\u0301b", '\''), "'a''\u0301b'");
    EXPECT_EQ(quoteSQL("a\"\u0301", '"'), "\"a\"\"\u0301\"");
}
