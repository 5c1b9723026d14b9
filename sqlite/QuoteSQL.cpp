#include "sqlite/QuoteSQL.h"

namespace sqlite {

std::string quoteSQL(std::string_view text, char mark)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += mark;
    for (char c : text) {
        quoted += c;
        if (c == mark) {
            quoted += mark;
        }
    }
    quoted += mark;
    return quoted;
}

} // namespace sqlite
