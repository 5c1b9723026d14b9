#pragma once

#include <string>
#include <string_view>

namespace sqlite {

/// Wraps `text` in `mark` and doubles every `mark` byte inside it: '"' quotes identifiers, '\'' text literals.
/// Works byte by byte, so a mark followed by a combining character is doubled too and the literal never ends
/// early. Nothing else is escaped.
std::string quoteSQL(std::string_view text, char mark = '"');

} // namespace sqlite
