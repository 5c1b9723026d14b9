#pragma once

#include "sqlite/ColumnNames.h"
#include "sqlite/Encodable.h"
#include "sqlite/Errors.h"
#include "sqlite/Expression.h"
#include "sqlite/Value.h"

#include <memory>
#include <optional>
#include <utility>

namespace sqlite {

/// One result row of a typed query, read by column expression: `row.getValue(name)` finds the column whose SQL
/// text is the expression's template (or the one qualified column ending in "." and that template) and converts
/// its stored value. Rows of one query share one column-name map.
class Row {
public:
    /// A row's values with the map of its query, kept together so that a row is one shared, immutable block.
    struct Data {
        std::shared_ptr<const ColumnNames> columnNames;
        Bindings values;
    };

    Row(std::shared_ptr<const ColumnNames> columnNames, Bindings values)
        : data_(std::make_shared<const Data>(Data{std::move(columnNames), std::move(values)}))
    {}
    /// Rows never change, so copies share their data.
    explicit Row(std::shared_ptr<const Data> data) : data_(std::move(data)) {}

    /// Column key (its SQL text, quoted identifiers included) to position.
    const ColumnNames::Map& columnNames() const { return data_->columnNames->map(); }
    const std::shared_ptr<const ColumnNames>& sharedColumnNames() const { return data_->columnNames; }
    /// The row's values in column order; none for NULL.
    const Bindings& values() const { return data_->values; }

    /// The value at `index` as V: none for NULL, for a value of another storage class than V's, and for a
    /// position outside the row. Throws `ValueError` when V refuses the stored value (a text that is no date).
    template <Value V> std::optional<V> valueAtIndex(int index) const
    {
        const Bindings& values = data_->values;
        if (index < 0 || static_cast<std::size_t>(index) >= values.size() || !values[index]) {
            return std::nullopt;
        }
        using D = typename ValueTraits<V>::Datatype;
        const D* stored = std::get_if<D>(&*values[index]);
        if (stored == nullptr) {
            return std::nullopt;
        }
        return ValueTraits<V>::fromDatatypeValue(*stored);
    }

    /// The value of a nullable column. Throws `QueryError` (no such column, ambiguous column) and the
    /// conversion's `ValueError`.
    template <Value V> std::optional<V> getOptionalValue(const Expression<std::optional<V>>& column) const
    {
        return valueAtIndex<V>(data_->columnNames->indexOf(column.template_));
    }

    /// The value of a column that must hold one: NULL, or a value of another storage class, throws
    /// `QueryError` unexpectedNullValue; lookup errors as `getOptionalValue`.
    template <Value V> V getValue(const Expression<V>& column) const
    {
        std::optional<V> value = valueAtIndex<V>(data_->columnNames->indexOf(column.template_));
        if (!value) {
            throw QueryError::unexpectedNullValue(column.template_);
        }
        return std::move(*value);
    }

    /// A nullable column read through `getValue`: the same as `getOptionalValue`.
    template <Value V> std::optional<V> getValue(const Expression<std::optional<V>>& column) const
    {
        return getOptionalValue(column);
    }

    /// row[column]: `getValue`, with the same errors. C++ lets the subscript throw, so a failed lookup is
    /// reported instead of being turned into a crash or a made-up value.
    template <class T> auto operator[](const Expression<T>& column) const { return getValue(column); }

    // Records that decode themselves (include "sqlite/Coding.h"). `D` is always `Decoder`; it is a parameter
    // only so that this header need not include the coders.

    /// The record made by `T::decode(Decoder&)` over this row; throws what that decoding throws.
    template <class T, class D = Decoder> T decode(UserInfo userInfo = {}) const
    {
        D decoder(*this, std::move(userInfo));
        return T::decode(decoder);
    }
    /// A decoder over this row, for a caller that drives the decoding itself.
    template <class D = Decoder> D decoder(UserInfo userInfo = {}) const { return D(*this, std::move(userInfo)); }

private:
    std::shared_ptr<const Data> data_;
};

} // namespace sqlite
