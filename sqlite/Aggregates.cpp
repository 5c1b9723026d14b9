#include "sqlite/Aggregates.h"

namespace sqlite {

Expression<std::int64_t> countStar()
{
    return Expression<std::int64_t>(detail::call("count", star()));
}

} // namespace sqlite
