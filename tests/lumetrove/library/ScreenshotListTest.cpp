#include "lumetrove/library/ScreenshotList.h"

#include "lumetrove/library/Screenshot.h"

#include <QHash>
#include <algorithm>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;

ScreenshotRow rowOf(qint64 id, const QString& name = QString())
{
    ScreenshotRow row;
    row.id = id;
    row.name = name.isEmpty() ? QString("s%1").arg(id) : name;
    row.path = QString("file:///s/%1.png").arg(id);
    return row;
}

/// Rows with these ids, highest first.
std::vector<ScreenshotRow> rowsOf(std::vector<qint64> ids)
{
    std::sort(ids.begin(), ids.end(), std::greater<>());
    std::vector<ScreenshotRow> rows;
    for (const qint64 id : ids) {
        rows.push_back(rowOf(id));
    }
    return rows;
}

std::vector<ScreenshotRow> contents(const ScreenshotTable& table)
{
    std::vector<ScreenshotRow> rows;
    for (qsizetype position = 0; position < table.size(); ++position) {
        rows.push_back(table.at(position));
    }
    return rows;
}

TEST(ScreenshotTableTest, RandomChangesKeepEveryVersionEqualToAPlainListOfItsRows)
{
    // Several blocks, with captures piling up in the first (which splits) and deletes emptying some.
    std::mt19937 random(7);
    std::vector<qint64> ids;
    for (qint64 id = 1; id <= 5000; id += 1 + qint64(random() % 3)) {
        ids.push_back(id);
    }
    std::vector<ScreenshotRow> expected = rowsOf(ids);
    ScreenshotTable table(expected);
    qint64 next = 6000;
    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE(step);
        std::vector<ScreenshotRow> changed;
        std::vector<qint64> removed;
        for (int change = 0; change < 1 + int(random() % 40); ++change) {
            const int kind = int(random() % 4);
            if (kind == 0 || expected.empty()) {
                changed.push_back(rowOf(next++)); // a new screenshot, newest of all
            } else if (kind == 1) {
                const qint64 id = expected[random() % expected.size()].id;
                changed.push_back(rowOf(id, QString("renamed %1").arg(step)));
            } else if (kind == 2) {
                removed.push_back(expected[random() % expected.size()].id);
            } else {
                removed.push_back(next + 1000); // never there
            }
        }
        const ScreenshotTable before = table;
        const std::vector<ScreenshotRow> beforeRows = expected;
        for (const qint64 id : removed) {
            std::erase_if(expected, [&](const ScreenshotRow& row) { return row.id == id; });
        }
        for (const ScreenshotRow& row : changed) {
            const auto found = std::find_if(expected.begin(), expected.end(),
                                            [&](const ScreenshotRow& kept) { return kept.id == row.id; });
            if (found != expected.end()) {
                *found = row;
            } else {
                expected.push_back(row);
            }
        }
        std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.id > b.id; });
        table = table.changed(changed, removed);
        ASSERT_EQ(contents(table), expected);
        ASSERT_EQ(contents(before), beforeRows) << "a change leaves the earlier version as it was";
        const qint64 probe = expected[random() % expected.size()].id;
        ASSERT_EQ(table.at(*table.indexOf(probe)).id, probe);
        ASSERT_EQ(table.indexOf(next + 5000), std::nullopt);
        // A sparse pick of ids across the blocks, with ids the table does not hold between them.
        std::vector<qint64> asked{next + 7};
        std::vector<qint32> positions;
        for (std::size_t index = random() % 3; index < expected.size(); index += 1 + random() % 1500) {
            asked.push_back(expected[index].id);
            asked.push_back(-1 - qint64(index)); // below every id
            positions.push_back(qint32(index));
        }
        std::sort(asked.begin(), asked.end(), std::greater<>());
        ASSERT_EQ(table.positionsOf(asked), positions);
    }
}

TEST(ScreenshotTableTest, PositionsOfIdsSkipIdsItDoesNotHoldAndFoldersAreSetWhereTheyChanged)
{
    const ScreenshotTable table(rowsOf({2, 4, 6, 8, 10}));
    EXPECT_THAT(table.positionsOf({11, 10, 7, 6, 2, 1}), ElementsAre(0, 2, 4));
    EXPECT_THAT(table.positionsOf({}), ElementsAre());

    const ScreenshotTable inFolders = table.withFolders(QHash<qint64, qint64>{{4, 1}, {10, 2}, {99, 3}});
    EXPECT_EQ(inFolders.at(0).folderId, 2);
    EXPECT_EQ(inFolders.at(3).folderId, 1);
    EXPECT_EQ(inFolders.at(1).folderId, std::nullopt);
    EXPECT_EQ(table.at(0).folderId, std::nullopt);
    EXPECT_EQ(inFolders.withFolders({}).at(0).folderId, std::nullopt);
}

TEST(ScreenshotListTest, AFilteredListFindsItsRowsAndLeavesOthersOut)
{
    auto table = std::make_shared<const ScreenshotTable>(rowsOf({1, 2, 3, 4, 5}));
    const ScreenshotList all(table, std::nullopt, nullptr);
    const ScreenshotList some(table, std::vector<qint32>{1, 3}, nullptr);
    EXPECT_THAT(all.ids(), ElementsAre(5, 4, 3, 2, 1));
    EXPECT_THAT(some.ids(), ElementsAre(4, 2));
    EXPECT_EQ(some.indexOf(2), 1);
    EXPECT_EQ(some.indexOf(3), std::nullopt);
    EXPECT_EQ(some.value(2), nullptr);
    EXPECT_THAT(some.without({0}).ids(), ElementsAre(2));
    EXPECT_THAT(all.without({0, 4}).ids(), ElementsAre(4, 3, 2));

    EXPECT_TRUE(all == ScreenshotList(table, std::vector<qint32>{0, 1, 2, 3, 4}, nullptr));
    EXPECT_FALSE(all == some);
    EXPECT_FALSE(some == ScreenshotList(table, std::vector<qint32>{1, 2}, nullptr));
    const auto copy = std::make_shared<const ScreenshotTable>(*table);
    EXPECT_FALSE(all == ScreenshotList(copy, std::nullopt, nullptr)) << "another version may hold other values";
    EXPECT_TRUE(ScreenshotList() == ScreenshotList(table, std::vector<qint32>{}, nullptr));
}

TEST(ScreenshotListTest, OneRecordPerScreenshotWhileItIsHeld)
{
    auto records = std::make_shared<ScreenshotRecords>(nullptr);
    int made = 0;
    records->setMadeHandler([&](const ScreenshotPtr&) { ++made; });
    auto table = std::make_shared<const ScreenshotTable>(rowsOf({1, 2}));
    const ScreenshotList list(table, std::nullopt, records);
    EXPECT_EQ(made, 0);
    ScreenshotPtr first = list.at(0);
    EXPECT_EQ(first->id(), 2);
    EXPECT_EQ(list.at(0), first);
    EXPECT_EQ(records->held(2), first);
    EXPECT_EQ(records->held(1), nullptr);
    EXPECT_EQ(made, 1);
    first.reset();
    EXPECT_EQ(records->held(2), nullptr);
    EXPECT_EQ(list.at(0)->name(), "s2");
    EXPECT_EQ(made, 2);
}

} // namespace
} // namespace lumetrove
