#pragma once

#include "lumetrove/library/ScreenshotRow.h"

#include <QHash>
#include <QMetaType>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

namespace lumetrove {

class Screenshot;
class ScreenshotsDB;
using ScreenshotPtr = std::shared_ptr<Screenshot>;

/// Every screenshot's row, newest (highest id) first, as one version of the library. Immutable: a change makes
/// a new version that shares every block of rows it leaves alone, so that changing one row of a million copies
/// one block, not the table. Made on any thread.
class ScreenshotTable {
    struct Block;

public:
    /// Rows per block: a changed row copies its block, a lookup searches the blocks' first ids.
    static constexpr qsizetype blockSize = 1024;

    /// Makes a table from rows given one by one, ordered by id, highest first: each row is moved once, into
    /// its block, without a list of every row first (which would be moved again each time it grows).
    class Builder {
    public:
        void append(ScreenshotRow&& row);
        ScreenshotTable finish() &&;

    private:
        std::vector<std::shared_ptr<const Block>> blocks_;
        std::vector<ScreenshotRow> block_;
    };

    ScreenshotTable() = default;
    /// From rows ordered by id, highest first.
    explicit ScreenshotTable(std::vector<ScreenshotRow> rows);

    qsizetype size() const { return size_; }
    const ScreenshotRow& at(qsizetype position) const;
    /// The position of the row with this id; none when the table has none.
    std::optional<qsizetype> indexOf(qint64 id) const;

    /// This table with `rows` put in (in place of rows of the same id) and the rows of `removed` taken out.
    ScreenshotTable changed(std::vector<ScreenshotRow> rows, const std::vector<qint64>& removed) const;
    /// This table with each row's folder taken from `folders` (screenshot id to folder id; none when absent).
    ScreenshotTable withFolders(const QHash<qint64, qint64>& folders) const;
    /// The positions of these ids (ordered by id, highest first), leaving out ids the table does not hold.
    std::vector<qint32> positionsOf(const std::vector<qint64>& ids) const;
    /// How many rows from `position` on lie in a block that `other` holds too, with the row at `otherPosition`
    /// in the same place of it: rows that both tables share unchanged. 0 when there are none.
    qsizetype sharedRun(qsizetype position, const ScreenshotTable& other, qsizetype otherPosition) const;

private:
    /// Rows in id order, highest first, with their ids on their own: a look-up reads the ids alone, not the rows
    /// around them.
    struct Block {
        explicit Block(std::vector<ScreenshotRow> blockRows);
        std::vector<ScreenshotRow> rows;
        std::vector<qint64> ids;
    };
    /// The block that holds the row of `id`, or would hold it.
    std::size_t blockOf(qint64 id) const;
    /// The block that holds the row at `position`.
    std::size_t blockAt(qsizetype position) const;
    void setBlocks(std::vector<std::shared_ptr<const Block>> blocks);

    std::vector<std::shared_ptr<const Block>> blocks_;
    /// The position of each block's first row.
    std::vector<qsizetype> starts_;
    qsizetype size_ = 0;
};

/// The `Screenshot` records of the rows something uses (the selection, the detail pane, a drag, an AI request),
/// one per id while it is held, so that everyone who asks for a screenshot holds the same record. Main thread.
class ScreenshotRecords {
public:
    explicit ScreenshotRecords(std::shared_ptr<ScreenshotsDB> store) : store_(std::move(store)) {}

    /// The record of the row's screenshot: the one held already, or a new one made from `row`.
    ScreenshotPtr recordOf(const ScreenshotRow& row);
    /// The record of this screenshot when someone holds one; null otherwise.
    ScreenshotPtr held(qint64 id) const;
    /// Forgets the record of a deleted screenshot: a later row with its id (SQLite may give the id again) gets
    /// a record of its own, even while someone still holds the old one.
    void forget(qint64 id) { records_.remove(id); }
    /// Called with every record made here.
    void setMadeHandler(std::function<void(const ScreenshotPtr&)> made) { made_ = std::move(made); }

private:
    std::shared_ptr<ScreenshotsDB> store_;
    QHash<qint64, std::weak_ptr<Screenshot>> records_;
    std::function<void(const ScreenshotPtr&)> made_;
};

class ScreenshotList;

/// How one list became the next, top to bottom, for the views to follow it row by row rather than start over.
struct ScreenshotListChange {
    /// A run of rows: kept from the list before (some may show new values), removed from it, or inserted.
    struct Run {
        enum class Kind { kept, removed, inserted };
        Kind kind = Kind::kept;
        qsizetype count = 0;
    };
    std::vector<Run> runs;
    /// The positions (in the new list, ascending) of kept rows whose values changed.
    std::vector<qsizetype> changedRows;
    /// The same ids in the same order.
    bool sameIds = true;
    /// The same ids and folder ids in the same order: under the records' equality, the same list.
    bool sameRecords = true;

    /// From `before` to `after`, both newest first. Reads rows only: made on any thread.
    static ScreenshotListChange between(const ScreenshotList& before, const ScreenshotList& after);
};

/// The list the views show: rows of a `ScreenshotTable`, newest first, all of them or those a filter kept.
/// A value: copying it copies two pointers. A row costs what its values do; its `Screenshot` record is made
/// when someone asks for it (`at`), and shared by id while it is held.
class ScreenshotList {
public:
    /// Yields the records of the rows, each made as it is reached.
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = ScreenshotPtr;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = ScreenshotPtr;

        Iterator() = default;
        Iterator(const ScreenshotList* list, qsizetype position) : list_(list), position_(position) {}
        ScreenshotPtr operator*() const { return list_->at(position_); }
        Iterator& operator++()
        {
            ++position_;
            return *this;
        }
        Iterator operator++(int)
        {
            Iterator before = *this;
            ++position_;
            return before;
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.position_ == b.position_; }

    private:
        const ScreenshotList* list_ = nullptr;
        qsizetype position_ = 0;
    };

    ScreenshotList() = default;
    /// The rows of `table` at `positions` (ascending), or every row when there are none; records from `records`.
    ScreenshotList(std::shared_ptr<const ScreenshotTable> table, std::optional<std::vector<qint32>> positions,
                   std::shared_ptr<ScreenshotRecords> records);

    qsizetype size() const;
    bool isEmpty() const { return size() == 0; }
    bool empty() const { return isEmpty(); }
    /// The row at `position` (inside the list).
    const ScreenshotRow& row(qsizetype position) const;
    /// The record of the row at `position` (inside the list), made now when nobody holds one.
    ScreenshotPtr at(qsizetype position) const;
    ScreenshotPtr operator[](qsizetype position) const { return at(position); }
    /// The record at `position`, or null outside the list.
    ScreenshotPtr value(qsizetype position) const;
    ScreenshotPtr first() const { return at(0); }
    ScreenshotPtr front() const { return at(0); }
    /// The position of the screenshot with this id; none when the list does not hold it.
    std::optional<qsizetype> indexOf(qint64 id) const;
    /// The ids in list order.
    std::vector<qint64> ids() const;
    /// This list with `row` in place of the listed row of its id; none when the list does not hold it.
    std::optional<ScreenshotList> withRow(ScreenshotRow row) const;
    /// This list without the rows at these positions.
    ScreenshotList without(const std::vector<qsizetype>& positions) const;

    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(this, size()); }

    /// The same rows of the same table version.
    friend bool operator==(const ScreenshotList& a, const ScreenshotList& b);
    /// The same rows of the same table version, known without reading a row: the list shares both.
    bool sharesRowsWith(const ScreenshotList& other) const
    {
        return table_ == other.table_ && positions_ == other.positions_;
    }

private:
    friend struct ScreenshotListChange;

    qsizetype tablePosition(qsizetype position) const
    {
        return positions_ ? qsizetype((*positions_)[std::size_t(position)]) : position;
    }

    std::shared_ptr<const ScreenshotTable> table_;
    /// The table's positions of the rows; null: every row.
    std::shared_ptr<const std::vector<qint32>> positions_;
    std::shared_ptr<ScreenshotRecords> records_;
};

} // namespace lumetrove

Q_DECLARE_METATYPE(lumetrove::ScreenshotList)
Q_DECLARE_METATYPE(lumetrove::ScreenshotListChange)
