#include "sqlite/Collation.h"

#include "sqlite/QuoteSQL.h"

namespace sqlite {

std::string Collation::description() const
{
    switch (kind_) {
    case Kind::binary:
        return "BINARY";
    case Kind::nocase:
        return "NOCASE";
    case Kind::rtrim:
        return "RTRIM";
    case Kind::custom:
        break;
    }
    return quoteSQL(name_, '"');
}

} // namespace sqlite
