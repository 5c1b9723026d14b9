#include "sqlite/RowIterator.h"

#include "sqlite/Connection.h"
#include "sqlite/StoredValue.h"

#include <atomic>
#include <sqlite3.h>

namespace sqlite {

namespace {

/// Reads the current row into `values`, keeping the storage of slots that already hold the same kind.
void readRow(sqlite3_stmt* statement, Bindings& values)
{
    const int count = sqlite3_column_count(statement);
    values.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        detail::readStoredValue(sqlite3_column_value(statement, i), values[static_cast<std::size_t>(i)]);
    }
}

} // namespace

std::optional<Row> RowIterator::failableNext()
{
    if (statement_->handle() == nullptr) {
        return std::nullopt; // text without a statement (only blanks or comments) has no rows, as it runs as nothing
    }
    Connection& connection = *statement_->connection();
    // The step and the reading of its row run as one unit under the queue rule. The queue of a serialized
    // connection is SQLite's own database mutex, so the column values may be read through sqlite3_value_*,
    // which take no lock of their own, and no other thread steps this connection in between.
    return connection.sync([&]() -> std::optional<Row> {
        const int code = sqlite3_step(statement_->handle());
        if (code == SQLITE_ROW) {
            return makeRow();
        }
        if (code != SQLITE_DONE) {
            Result::check(code, connection);
        }
        return std::nullopt;
    });
}

Row RowIterator::makeRow()
{
    // use_count 1: no row made from the buffer is alive any more, and only this iterator can hand it out.
    if (!spare_ || spare_.use_count() != 1) {
        spare_ = std::make_shared<Row::Data>(Row::Data{columnNames_, {}});
    } else {
        // The last row may have been let go on another thread: see its reads before writing over them.
        std::atomic_thread_fence(std::memory_order_acquire);
    }
    readRow(statement_->handle(), spare_->values);
    return Row(std::shared_ptr<const Row::Data>(spare_));
}

} // namespace sqlite
