#include "sqlite/Module.h"

namespace sqlite {

Expression<void> Module::expression() const
{
    return detail::call(name, joinExpressions(", ", arguments));
}

} // namespace sqlite
