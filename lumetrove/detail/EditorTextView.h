#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QPlainTextEdit;

namespace lumetrove {

/// A scrolling multi-line text editor bound to a text its owner keeps. The owner pushes its text with
/// `setText`; every edit is pushed back through `textChanged` at once. Editing begins when the editor takes
/// the keyboard focus and ends when it loses it. The caret and selection survive the owner pushing the same
/// or a changed text back, clamped to the new text.
class EditorTextView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)

public:
    struct Callbacks {
        /// Editing began; the bound text is already up to date.
        std::function<void()> onEditingChanged;
        /// Editing ended; the bound text is already up to date.
        std::function<void()> onCommit;
        /// The user changed the text; called with the new text after `textChanged`.
        std::function<void(const QString&)> onTextChange;
    };

    /// `font` none keeps the editor's default font. Editability and font are fixed at creation.
    EditorTextView(QString text, bool isEditable, std::optional<QFont> font, Callbacks callbacks = {},
                   QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    /// The owner's text: replaces the editor's string when it differs and re-applies the selection that the
    /// last edit recorded, clamped to the new text.
    void setText(const QString& text);

    bool isEditable() const { return isEditable_; }
    QPlainTextEdit* textView() const { return textView_; }

signals:
    /// The text changed by an edit (never by `setText`).
    void textChanged(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void writeBack();
    void applyRecordedSelection();

    QString text_;
    bool isEditable_;
    Callbacks callbacks_;
    QPlainTextEdit* textView_;
    /// Anchor and position of the selection the last edit left; none before the first edit.
    std::optional<std::pair<int, int>> selectedRange_;
    bool pushing_ = false;
};

} // namespace lumetrove
