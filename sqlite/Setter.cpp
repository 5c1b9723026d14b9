#include "sqlite/Setter.h"

namespace sqlite {

Expression<void> Setter::expression() const
{
    const Expression<void>& column = column_.expression();
    const Expression<void>& value = value_.expression();
    Expression<void> result;
    result.template_.reserve(column.template_.size() + value.template_.size() + 3);
    result.template_ += column.template_;
    result.template_ += " = ";
    result.template_ += value.template_;
    result.bindings.reserve(column.bindings.size() + value.bindings.size());
    result.bindings.insert(result.bindings.end(), column.bindings.begin(), column.bindings.end());
    result.bindings.insert(result.bindings.end(), value.bindings.begin(), value.bindings.end());
    return result;
}

} // namespace sqlite
