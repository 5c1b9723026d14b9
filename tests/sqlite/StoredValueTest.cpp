#include "sqlite/Connection.h"
#include "sqlite/RowIterator.h"

#include <gtest/gtest.h>
#include <new>
#include <sqlite3.h>
#include <string>

using namespace sqlite;

namespace {

// A UTF-16 database hands out texts as UTF-8 only after converting them, which needs memory; with SQLite's heap
// limit just above what it uses, the conversion fails and SQLite answers a null text pointer.
class UnconvertibleText : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::openPath(":memory:");
        db->executeScript("PRAGMA encoding = 'UTF-16le'");
        db->createFunction("byte_length", 1, true, [](const Bindings& arguments) -> std::optional<Binding> {
            return Binding(static_cast<std::int64_t>(std::get<std::string>(*arguments.at(0)).size()));
        });
    }
    void TearDown() override { sqlite3_hard_heap_limit64(0); }

    /// `sql` prepared with a large UTF-16 text bound in place (no copy), then a heap limit below what
    /// converting it to UTF-8 takes: each of its characters is two bytes in UTF-16 and three in UTF-8.
    std::shared_ptr<Statement> prepareWithLargeText(const char* sql)
    {
        auto statement = db->prepare(sql);
        sqlite3_bind_text16(statement->handle(), 1, text.data(), static_cast<int>(text.size() * 2), SQLITE_STATIC);
        sqlite3_hard_heap_limit64(sqlite3_memory_used() + static_cast<sqlite3_int64>(text.size() * 5 / 2));
        return statement;
    }

    std::shared_ptr<Connection> db;
    std::u16string text = std::u16string(1 << 20, u'\u65e5');
};

} // namespace

// Every reader of stored values converts them the same way: a text SQLite cannot produce is an error, never "".
TEST_F(UnconvertibleText, IsAnErrorForRowsIteratorsAndFunctionArguments)
{
    {
        auto statement = prepareWithLargeText("SELECT ?");
        ASSERT_TRUE(statement->step());
        EXPECT_THROW(statement->row().values(), std::bad_alloc);
    }
    {
        auto statement = prepareWithLargeText("SELECT ?");
        RowIterator rows(statement, std::make_shared<ColumnNames>());
        EXPECT_THROW(rows.failableNext(), std::bad_alloc);
    }
    {
        auto statement = prepareWithLargeText("SELECT byte_length(?)");
        try {
            statement->step();
            FAIL() << "the function read the text as " << statement->row().int64At(0) << " bytes";
        } catch (const Result& error) {
            EXPECT_EQ(error.code(), SQLITE_NOMEM);
        }
    }
    sqlite3_hard_heap_limit64(0);
    auto statement = db->prepare("SELECT byte_length(?)");
    statement->bind(std::string("日本"));
    ASSERT_TRUE(statement->step());
    EXPECT_EQ(statement->row().int64At(0), 6);
}
