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

bool AIError::isTimedOut() const
{
    if (!error) {
        return false;
    }
    try {
        std::rethrow_exception(error);
    } catch (const aiclient::TransportError& transport) {
        return transport.isTimedOut();
    } catch (...) {
    }
    return false;
}

bool AIError::isCancellation() const
{
    if (!error) {
        return false;
    }
    try {
        std::rethrow_exception(error);
    } catch (const AnalysisCancelledError&) {
        return true;
    } catch (const aiclient::TransportError& transport) {
        return transport.kind() == aiclient::TransportError::Kind::cancelled;
    } catch (...) {
    }
    return false;
}

} // namespace lumetrove
