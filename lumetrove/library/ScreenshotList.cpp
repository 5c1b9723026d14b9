#include "lumetrove/library/ScreenshotList.h"

#include "lumetrove/library/Screenshot.h"

#include <algorithm>
#include <functional>
#include <map>

namespace lumetrove {

namespace {

/// Ids descending: the order of every table and list.
bool newerThan(const ScreenshotRow& row, qint64 id)
{
    return row.id > id;
}

} // namespace

ScreenshotTable::ScreenshotTable(std::vector<ScreenshotRow> rows)
{
    Builder builder;
    for (ScreenshotRow& row : rows) {
        builder.append(std::move(row));
    }
    *this = std::move(builder).finish();
}

ScreenshotTable::Block::Block(std::vector<ScreenshotRow> blockRows) : rows(std::move(blockRows))
{
    ids.reserve(rows.size());
    for (const ScreenshotRow& row : rows) {
        ids.push_back(row.id);
    }
}

void ScreenshotTable::Builder::append(ScreenshotRow&& row)
{
    if (block_.empty()) {
        block_.reserve(std::size_t(blockSize));
    }
    block_.push_back(std::move(row));
    if (qsizetype(block_.size()) == blockSize) {
        blocks_.push_back(std::make_shared<const Block>(std::move(block_)));
        block_ = std::vector<ScreenshotRow>();
    }
}

ScreenshotTable ScreenshotTable::Builder::finish() &&
{
    if (!block_.empty()) {
        blocks_.push_back(std::make_shared<const Block>(std::move(block_)));
    }
    ScreenshotTable table;
    table.setBlocks(std::move(blocks_));
    return table;
}

void ScreenshotTable::setBlocks(std::vector<std::shared_ptr<const Block>> blocks)
{
    blocks_.clear();
    starts_.clear();
    size_ = 0;
    for (std::shared_ptr<const Block>& block : blocks) {
        if (block->rows.empty()) {
            continue;
        }
        starts_.push_back(size_);
        size_ += qsizetype(block->rows.size());
        blocks_.push_back(std::move(block));
    }
}

std::size_t ScreenshotTable::blockAt(qsizetype position) const
{
    return std::size_t(std::upper_bound(starts_.cbegin(), starts_.cend(), position) - starts_.cbegin() - 1);
}

const ScreenshotRow& ScreenshotTable::at(qsizetype position) const
{
    const std::size_t block = blockAt(position);
    return blocks_[block]->rows[std::size_t(position - starts_[block])];
}

qsizetype ScreenshotTable::sharedRun(qsizetype position, const ScreenshotTable& other, qsizetype otherPosition) const
{
    const std::size_t block = blockAt(position);
    const std::size_t otherBlock = other.blockAt(otherPosition);
    const qsizetype offset = position - starts_[block];
    if (blocks_[block] != other.blocks_[otherBlock] || offset != otherPosition - other.starts_[otherBlock]) {
        return 0;
    }
    return qsizetype(blocks_[block]->rows.size()) - offset;
}

std::size_t ScreenshotTable::blockOf(qint64 id) const
{
    // The first block whose last (lowest) id is at most `id`; ids below every block go to the last one.
    const auto found =
        std::partition_point(blocks_.cbegin(), blocks_.cend(),
                             [id](const std::shared_ptr<const Block>& block) { return block->ids.back() > id; });
    return found == blocks_.cend() ? blocks_.size() - 1 : std::size_t(found - blocks_.cbegin());
}

std::optional<qsizetype> ScreenshotTable::indexOf(qint64 id) const
{
    if (blocks_.empty()) {
        return std::nullopt;
    }
    const std::size_t block = blockOf(id);
    const std::vector<qint64>& ids = blocks_[block]->ids;
    const auto found = std::lower_bound(ids.cbegin(), ids.cend(), id, std::greater<>());
    if (found == ids.cend() || *found != id) {
        return std::nullopt;
    }
    return starts_[block] + (found - ids.cbegin());
}

ScreenshotTable ScreenshotTable::changed(std::vector<ScreenshotRow> rows, const std::vector<qint64>& removed) const
{
    if (blocks_.empty()) {
        std::sort(rows.begin(), rows.end(), [](const ScreenshotRow& a, const ScreenshotRow& b) { return a.id > b.id; });
        return ScreenshotTable(std::move(rows));
    }
    // The changes of each block, applied to one copy of it.
    std::map<std::size_t, std::pair<std::vector<ScreenshotRow>, std::vector<qint64>>> changes;
    for (ScreenshotRow& row : rows) {
        const std::size_t block = blockOf(row.id);
        changes[block].first.push_back(std::move(row));
    }
    for (const qint64 id : removed) {
        changes[blockOf(id)].second.push_back(id);
    }
    std::vector<std::shared_ptr<const Block>> blocks;
    blocks.reserve(blocks_.size() + 1);
    for (std::size_t index = 0; index < blocks_.size(); ++index) {
        const auto change = changes.find(index);
        if (change == changes.end()) {
            blocks.push_back(blocks_[index]);
            continue;
        }
        std::vector<ScreenshotRow> block = blocks_[index]->rows;
        for (const qint64 id : change->second.second) {
            const auto found = std::lower_bound(block.begin(), block.end(), id, newerThan);
            if (found != block.end() && found->id == id) {
                block.erase(found);
            }
        }
        for (ScreenshotRow& row : change->second.first) {
            const auto found = std::lower_bound(block.begin(), block.end(), row.id, newerThan);
            if (found != block.end() && found->id == row.id) {
                *found = std::move(row);
            } else {
                block.insert(found, std::move(row));
            }
        }
        // A block that new rows keep growing (captures land in the first) is split in two.
        while (qsizetype(block.size()) > 2 * blockSize) {
            blocks.push_back(std::make_shared<const Block>(std::vector<ScreenshotRow>(
                std::make_move_iterator(block.begin()), std::make_move_iterator(block.begin() + blockSize))));
            block.erase(block.begin(), block.begin() + blockSize);
        }
        blocks.push_back(std::make_shared<const Block>(std::move(block)));
    }
    ScreenshotTable table;
    table.setBlocks(std::move(blocks));
    return table;
}

ScreenshotTable ScreenshotTable::withFolders(const QHash<qint64, qint64>& folders) const
{
    std::vector<std::shared_ptr<const Block>> blocks;
    blocks.reserve(blocks_.size());
    for (const std::shared_ptr<const Block>& block : blocks_) {
        std::shared_ptr<Block> copy;
        for (std::size_t index = 0; index < block->rows.size(); ++index) {
            const ScreenshotRow& row = block->rows[index];
            const auto found = folders.constFind(row.id);
            const std::optional<qint64> folder =
                found == folders.constEnd() ? std::nullopt : std::optional<qint64>(*found);
            if (folder != row.folderId) {
                if (!copy) {
                    copy = std::make_shared<Block>(*block);
                }
                copy->rows[index].folderId = folder;
            }
        }
        blocks.push_back(copy ? std::shared_ptr<const Block>(std::move(copy)) : block);
    }
    ScreenshotTable table;
    table.setBlocks(std::move(blocks));
    return table;
}

std::vector<qint32> ScreenshotTable::positionsOf(const std::vector<qint64>& ids) const
{
    // Both run from the highest id down: one walk through the table's ids.
    std::vector<qint32> positions;
    positions.reserve(ids.size());
    auto wanted = ids.cbegin();
    for (std::size_t block = 0; block < blocks_.size() && wanted != ids.cend(); ++block) {
        const std::vector<qint64>& held = blocks_[block]->ids;
        if (held.back() > *wanted) {
            continue; // every row of the block is newer than the next one asked for
        }
        for (std::size_t index = 0; index < held.size() && wanted != ids.cend(); ++index) {
            while (wanted != ids.cend() && *wanted > held[index]) {
                ++wanted; // an id the table does not hold
            }
            if (wanted != ids.cend() && *wanted == held[index]) {
                positions.push_back(qint32(starts_[block] + qsizetype(index)));
                ++wanted;
            }
        }
    }
    return positions;
}

// Records ----------------------------------------------------------------------------------------------------

ScreenshotPtr ScreenshotRecords::recordOf(const ScreenshotRow& row)
{
    if (ScreenshotPtr record = held(row.id)) {
        return record;
    }
    // Gone records leave their entries behind; they are swept as new ones come, so the map stays as small as
    // the number of records in use.
    if (records_.size() > 64) {
        for (auto entry = records_.begin(); entry != records_.end();) {
            entry = entry->expired() ? records_.erase(entry) : std::next(entry);
        }
    }
    ScreenshotPtr record = Screenshot::fromRow(row, store_);
    records_.insert(row.id, record);
    if (made_) {
        made_(record);
    }
    return record;
}

ScreenshotPtr ScreenshotRecords::held(qint64 id) const
{
    const auto found = records_.constFind(id);
    return found == records_.constEnd() ? nullptr : found->lock();
}

// The list ---------------------------------------------------------------------------------------------------

ScreenshotList::ScreenshotList(std::shared_ptr<const ScreenshotTable> table,
                               std::optional<std::vector<qint32>> positions, std::shared_ptr<ScreenshotRecords> records)
    : table_(std::move(table)), records_(std::move(records))
{
    if (positions) {
        positions_ = std::make_shared<const std::vector<qint32>>(std::move(*positions));
    }
}

qsizetype ScreenshotList::size() const
{
    if (positions_) {
        return qsizetype(positions_->size());
    }
    return table_ ? table_->size() : 0;
}

const ScreenshotRow& ScreenshotList::row(qsizetype position) const
{
    return table_->at(tablePosition(position));
}

ScreenshotPtr ScreenshotList::at(qsizetype position) const
{
    const ScreenshotRow& listed = row(position);
    return records_ ? records_->recordOf(listed) : Screenshot::fromRow(listed, nullptr);
}

ScreenshotPtr ScreenshotList::value(qsizetype position) const
{
    return position >= 0 && position < size() ? at(position) : nullptr;
}

std::optional<qsizetype> ScreenshotList::indexOf(qint64 id) const
{
    if (!table_) {
        return std::nullopt;
    }
    const std::optional<qsizetype> inTable = table_->indexOf(id);
    if (!inTable || !positions_) {
        return inTable;
    }
    const auto found = std::lower_bound(positions_->cbegin(), positions_->cend(), qint32(*inTable));
    if (found == positions_->cend() || *found != qint32(*inTable)) {
        return std::nullopt;
    }
    return qsizetype(found - positions_->cbegin());
}

std::vector<qint64> ScreenshotList::ids() const
{
    std::vector<qint64> ids;
    ids.reserve(std::size_t(size()));
    for (qsizetype position = 0; position < size(); ++position) {
        ids.push_back(row(position).id);
    }
    return ids;
}

std::optional<ScreenshotList> ScreenshotList::withRow(ScreenshotRow row) const
{
    if (!indexOf(row.id)) {
        return std::nullopt;
    }
    ScreenshotList swapped = *this;
    std::vector<ScreenshotRow> rows;
    rows.push_back(std::move(row));
    // The same ids, so the same positions: only the block of the row is copied.
    swapped.table_ = std::make_shared<const ScreenshotTable>(table_->changed(std::move(rows), {}));
    return swapped;
}

ScreenshotList ScreenshotList::without(const std::vector<qsizetype>& positions) const
{
    std::vector<qint32> kept;
    kept.reserve(std::size_t(size()));
    for (qsizetype position = 0; position < size(); ++position) {
        if (std::find(positions.cbegin(), positions.cend(), position) == positions.cend()) {
            kept.push_back(qint32(tablePosition(position)));
        }
    }
    return ScreenshotList(table_, std::move(kept), records_);
}

ScreenshotListChange ScreenshotListChange::between(const ScreenshotList& before, const ScreenshotList& after)
{
    ScreenshotListChange change;
    if (before.sharesRowsWith(after)) {
        if (after.size() > 0) {
            change.runs.push_back(Run{Run::Kind::kept, after.size()});
        }
        return change;
    }
    const auto extend = [&change](Run::Kind kind, qsizetype count = 1) {
        if (change.runs.empty() || change.runs.back().kind != kind) {
            change.runs.push_back(Run{kind, 0});
        }
        change.runs.back().count += count;
    };
    // Lists of every row walk a block that both tables share in one step.
    const bool wholeTables = !before.positions_ && !after.positions_;
    // Both lists run from the highest id down: an id met in one list before the other reaches it is not in
    // the other.
    qsizetype old = 0;
    qsizetype now = 0;
    while (old < before.size() || now < after.size()) {
        if (now == after.size() || (old < before.size() && before.row(old).id > after.row(now).id)) {
            extend(Run::Kind::removed);
            ++old;
        } else if (old == before.size() || after.row(now).id > before.row(old).id) {
            extend(Run::Kind::inserted);
            ++now;
        } else {
            const ScreenshotRow& was = before.row(old);
            const ScreenshotRow& is = after.row(now);
            if (&was == &is && wholeTables) {
                const qsizetype shared = before.table_->sharedRun(old, *after.table_, now);
                if (shared > 1) {
                    extend(Run::Kind::kept, shared);
                    old += shared;
                    now += shared;
                    continue;
                }
            }
            // A block that neither list changed is shared: the same row at the same address.
            if (&was != &is && !(was == is)) {
                change.changedRows.push_back(now);
                if (was.folderId != is.folderId) {
                    change.sameRecords = false;
                }
            }
            extend(Run::Kind::kept);
            ++old;
            ++now;
        }
    }
    for (const Run& run : change.runs) {
        if (run.kind != Run::Kind::kept) {
            change.sameIds = false;
            change.sameRecords = false;
        }
    }
    return change;
}

bool operator==(const ScreenshotList& a, const ScreenshotList& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    if (a.table_ != b.table_) {
        return a.size() == 0;
    }
    if (a.positions_ == b.positions_) {
        return true;
    }
    if (!a.positions_ || !b.positions_) {
        return true; // as long as the table, and so every row of it
    }
    return *a.positions_ == *b.positions_;
}

} // namespace lumetrove
