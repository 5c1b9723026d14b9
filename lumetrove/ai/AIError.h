#pragma once

#include <QString>
#include <QUuid>
#include <exception>
#include <stdexcept>

namespace lumetrove {

/// One AI failure as a value: a fresh id for every failure reported, and the error as it was thrown.
/// Two values are equal exactly when their ids are.
struct AIError {
    QUuid id;
    std::exception_ptr error;

    /// A new failure with a new id.
    static AIError make(std::exception_ptr error) { return AIError{QUuid::createUuid(), std::move(error)}; }

    /// The error's description: its `what()`.
    QString description() const;
    /// The service was not reached, or did not answer, within the request's time-out.
    bool isTimedOut() const;
    /// The analysis was cancelled by its caller.
    bool isCancellation() const;

    friend bool operator==(const AIError& a, const AIError& b) { return a.id == b.id; }
};

/// Reported for an analysis whose task was cancelled before its answer could be used.
class AnalysisCancelledError : public std::runtime_error {
public:
    AnalysisCancelledError() : std::runtime_error("The analysis was cancelled.") {}
};

/// The description of any thrown error: its `what()`, or a fixed text for a value that is no std::exception.
QString describeError(const std::exception_ptr& error);

} // namespace lumetrove
