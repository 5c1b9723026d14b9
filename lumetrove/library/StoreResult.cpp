#include "lumetrove/library/StoreResult.h"

#include "sqlite/Errors.h"

namespace lumetrove {

StoreError::StoreError(Kind kind, QString description)
    : kind_(kind), description_(std::move(description)), what_(description_.toStdString())
{}

StoreError StoreError::noConnection()
{
    return StoreError(Kind::noConnection, QString());
}

StoreError StoreError::absent()
{
    return StoreError(Kind::absent, QString());
}

StoreError StoreError::caught(const sqlite::Error& error)
{
    const auto* result =
        error.kind() == sqlite::Error::Kind::result ? static_cast<const sqlite::Result*>(&error) : nullptr;
    const bool corrupt = result != nullptr && (result->isCorruption() || result->isNotADatabase());
    return StoreError(corrupt ? Kind::corruption : Kind::failed, QString::fromUtf8(error.what()));
}

StoreError StoreError::caught(const std::exception& error)
{
    return StoreError(Kind::failed, QString::fromUtf8(error.what()));
}

StoreError StoreError::repairUnderWay()
{
    return StoreError(Kind::failed, QStringLiteral("the library is damaged and is being repaired"));
}

QString StoreError::plainDescription() const
{
    return kind_ == Kind::corruption ? QStringLiteral("the library file is damaged and could not be repaired")
                                     : description_;
}

} // namespace lumetrove
