#include "lumetrove/ai/AIError.h"

#include "aiclient/HttpSession.h"

namespace lumetrove {

QString describeError(const std::exception_ptr& error)
{
    if (!error) {
        return QStringLiteral("no error");
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& thrown) {
        return QString::fromUtf8(thrown.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

QString AIError::description() const
{
    return describeError(error);
}

namespace {

AIError::Kind kindOf(const std::exception_ptr& error)
{
    if (!error) {
        return AIError::Kind::other;
    }
    try {
        std::rethrow_exception(error);
    } catch (const aiclient::Error& failure) {
        if (failure.kind() != aiclient::Error::Kind::transport) {
            return AIError::Kind::other;
        }
        switch (static_cast<const aiclient::TransportError&>(failure).kind()) {
        case aiclient::TransportError::Kind::timedOut:
            return AIError::Kind::timedOut;
        case aiclient::TransportError::Kind::cancelled:
            return AIError::Kind::cancelled;
        default:
            return AIError::Kind::other;
        }
    } catch (...) {
    }
    return AIError::Kind::other;
}

} // namespace

AIError AIError::make(std::exception_ptr error)
{
    const Kind kind = kindOf(error);
    return AIError{QUuid::createUuid(), std::move(error), kind};
}

AIError AIError::cancelled()
{
    return AIError{QUuid::createUuid(), std::make_exception_ptr(AnalysisCancelledError()), Kind::cancelled};
}

} // namespace lumetrove
