#include "sqlite/Module.h"

#include "sqlite/QuoteSQL.h"

namespace sqlite {

Module Module::named(std::string_view name, std::vector<Expressible> arguments)
{
    return Module{quoteSQL(name, '"'), std::move(arguments)};
}

Expression<void> Module::expression() const
{
    return detail::call(name, joinExpressions(", ", arguments));
}

} // namespace sqlite
