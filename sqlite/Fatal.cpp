#include "sqlite/Fatal.h"

#include <cstdio>
#include <cstdlib>

namespace sqlite {

void fatalError(std::string_view unit, int line, std::string_view message) noexcept
{
    std::fprintf(stderr, "%.*s:%d: Fatal error: %.*s\n", static_cast<int>(unit.size()), unit.data(), line,
                 static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace sqlite
