#include "sqlite/Fatal.h"

#include <gtest/gtest.h>

TEST(FatalDeathTest, PrintsUnitLineAndMessageThenAborts)
{
    EXPECT_DEATH(SQLITE_FATAL("SQLite/Statement", "no such parameter"),
                 "SQLite/Statement:[0-9]+: Fatal error: no such parameter");
}
