#include "lumetrove/library/FolderSection.h"

#include <gtest/gtest.h>

namespace lumetrove {
namespace {

Folder folder(qint64 id, QString name = QStringLiteral("Receipts"))
{
    return Folder{id, 0, std::move(name), false, std::nullopt};
}

TEST(FolderTest, EqualityAndHashCoverAllFiveFields)
{
    const Folder base{3, 1, QStringLiteral("Cats"), true, QStringLiteral("cat kitten")};
    EXPECT_EQ(base, base);
    EXPECT_EQ(qHash(base), qHash(Folder(base)));

    Folder other = base;
    other.sort_order = 2;
    EXPECT_NE(base, other);
    other = base;
    other.keywordsFilter = std::nullopt;
    EXPECT_NE(base, other);
    other = base;
    other.isSmartFolder = false;
    EXPECT_NE(base, other);
    // An absent filter and an empty one are different values and hash apart.
    Folder absent = folder(1);
    Folder empty = absent;
    empty.keywordsFilter = QString();
    EXPECT_NE(absent, empty);
    EXPECT_NE(qHash(absent), qHash(empty));
}

TEST(FolderSectionTest, IdentifiersOfTheFixedSections)
{
    EXPECT_EQ(FolderSection::all().id(), "all");
    EXPECT_EQ(FolderSection::today().id(), "today");
    EXPECT_EQ(FolderSection::yesterday().id(), "yesterday");
    EXPECT_EQ(FolderSection::lastWeek().id(), "lastweek");
}

TEST(FolderSectionTest, AllCasesHoldsTheFourFixedSectionsInOrder)
{
    const QList<FolderSection> cases = FolderSection::allCases();
    ASSERT_EQ(cases.size(), 4);
    EXPECT_EQ(cases[0], FolderSection::all());
    EXPECT_EQ(cases[1], FolderSection::today());
    EXPECT_EQ(cases[2], FolderSection::yesterday());
    EXPECT_EQ(cases[3], FolderSection::lastWeek());
}

TEST(FolderSectionTest, FolderSectionsCompareByIdentifierAlone)
{
    const FolderSection seven = FolderSection::list(folder(7, QStringLiteral("A")));
    const FolderSection renamed = FolderSection::list(folder(7, QStringLiteral("B")));
    EXPECT_EQ(seven.id(), "7");
    EXPECT_EQ(seven, renamed);
    EXPECT_NE(seven, FolderSection::list(folder(8)));
    EXPECT_NE(seven, FolderSection::all());
    // Hashing looks at the whole folder, so equal sections may hash apart.
    EXPECT_NE(qHash(seven), qHash(renamed));
    EXPECT_NE(qHash(FolderSection::today()), qHash(FolderSection::yesterday()));
}

} // namespace
} // namespace lumetrove
