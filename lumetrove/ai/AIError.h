#pragma once

#include <QString>
#include <QUuid>
#include <exception>
#include <stdexcept>

namespace lumetrove {

/// One AI failure as a value: a fresh id for every failure reported, the error as it was thrown, and what
/// it means for the user, told once from the error's kind when the failure is reported. Two values are equal
/// exactly when their ids are.
struct AIError {
    enum class Kind {
        timedOut,  ///< the service was not reached, or did not answer, within the request's time-out
        cancelled, ///< the analysis was cancelled by its caller
        other,     ///< any other failure
    };

    QUuid id;
    std::exception_ptr error;
    Kind kind = Kind::other;

    /// A new failure with a new id; a time-out or a cancellation of the client's transport is told by its kind.
    static AIError make(std::exception_ptr error);
    /// A new failure for an analysis cancelled before its answer could be used (`AnalysisCancelledError`).
    static AIError cancelled();

    /// The error's description: its `what()`.
    QString description() const;
    bool isTimedOut() const { return kind == Kind::timedOut; }
    bool isCancellation() const { return kind == Kind::cancelled; }

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
