#pragma once

#include "sqlite/Row.h"
#include "sqlite/Statement.h"

#include <iterator>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace sqlite {

/// A prepared, bound query with its column-name map, read row by row. Stepping follows the connection's queue
/// rule; an iterator and its copies share one statement and are meant for one consumer. A failing step is
/// always thrown as `Result` (also from `next` and from range iteration), so a busy or corrupt database never
/// looks like the end of the rows.
class RowIterator {
public:
    RowIterator(std::shared_ptr<Statement> statement, std::shared_ptr<const ColumnNames> columnNames)
        : statement_(std::move(statement)), columnNames_(std::move(columnNames))
    {}

    const std::shared_ptr<Statement>& statement() const { return statement_; }
    const ColumnNames::Map& columnNames() const { return columnNames_->map(); }
    const std::shared_ptr<const ColumnNames>& sharedColumnNames() const { return columnNames_; }

    /// Steps once: the next row, or none after the last. Throws `Result` when the step fails.
    std::optional<Row> failableNext();
    /// The same as `failableNext`; there is no silent form.
    std::optional<Row> next() { return failableNext(); }

    /// The transform of every remaining row, in order. Throws `Result` or the transform's error.
    template <class F> auto map(F&& transform) -> std::vector<std::invoke_result_t<F&, const Row&>>
    {
        std::vector<std::invoke_result_t<F&, const Row&>> results;
        while (std::optional<Row> row = failableNext()) {
            results.push_back(transform(*row));
        }
        return results;
    }

    /// As `map`, leaving out the rows whose transform gives none.
    template <class F>
    auto compactMap(F&& transform) -> std::vector<typename std::invoke_result_t<F&, const Row&>::value_type>
    {
        std::vector<typename std::invoke_result_t<F&, const Row&>::value_type> results;
        while (std::optional<Row> row = failableNext()) {
            if (auto value = transform(*row)) {
                results.push_back(std::move(*value));
            }
        }
        return results;
    }

    /// Input iteration over the remaining rows (no reset); ++ throws `Result` when a step fails.
    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Row;
        using difference_type = std::ptrdiff_t;
        using pointer = const Row*;
        using reference = const Row&;

        Iterator() = default;
        explicit Iterator(RowIterator* rows) : rows_(rows) { ++*this; }
        reference operator*() const { return *row_; }
        pointer operator->() const { return &*row_; }
        Iterator& operator++()
        {
            // Let go of the previous row first, so that its storage can be reused for the next one.
            row_.reset();
            row_ = rows_->failableNext();
            if (!row_) {
                rows_ = nullptr;
            }
            return *this;
        }
        void operator++(int) { ++*this; }
        bool operator==(const Iterator& other) const { return rows_ == other.rows_; }

    private:
        RowIterator* rows_ = nullptr;
        std::optional<Row> row_;
    };

    Iterator begin() { return Iterator(this); }
    Iterator end() { return Iterator(); }

private:
    Row makeRow();

    std::shared_ptr<Statement> statement_;
    std::shared_ptr<const ColumnNames> columnNames_;
    // The values of the last row handed out. When every row made from it is gone, the next row is read into
    // it, reusing the list and its texts' storage instead of allocating them again for each row.
    std::shared_ptr<Row::Data> spare_;
};

} // namespace sqlite
