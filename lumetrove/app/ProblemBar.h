#pragma once

#include <QFrame>
#include <QStringList>

class QLabel;
class QToolButton;

namespace lumetrove {

/// A line across the top of the main window that tells the user of changes the library could not keep (see
/// `reportLibraryProblem`): the latest few messages, each once, until the user dismisses them. Hidden while
/// it has nothing to tell. Main thread.
class ProblemBar : public QFrame {
    Q_OBJECT
public:
    /// How many messages it shows at most; older ones give way to newer ones.
    static constexpr qsizetype maximumMessages = 3;

    explicit ProblemBar(QWidget* parent = nullptr);

    /// Shows `message` as the newest line; a message already shown moves to the end instead of showing twice.
    void addMessage(const QString& message);
    /// The messages shown, oldest first.
    const QStringList& messages() const { return messages_; }
    /// Forgets every message and hides the bar.
    void dismiss();

private:
    void refresh();

    QStringList messages_;
    QLabel* icon_;
    QLabel* text_;
    QToolButton* dismiss_;
};

} // namespace lumetrove
