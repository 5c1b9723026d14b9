#include "lumetrove/detail/EditorTextView.h"

#include "lumetrove/detail/DetailStyle.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>

namespace lumetrove {

namespace {

/// The text view of the editor: insets of 12 points at the sides and 18 at the top and bottom.
class CustomTextView : public QPlainTextEdit {
public:
    explicit CustomTextView(QWidget* parent) : QPlainTextEdit(parent) { setViewportMargins(12, 18, 12, 18); }
};

} // namespace

EditorTextView::EditorTextView(QString text, bool isEditable, std::optional<QFont> font, Callbacks callbacks,
                               QWidget* parent)
    : QWidget(parent), text_(std::move(text)), isEditable_(isEditable), callbacks_(std::move(callbacks))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    textView_ = new CustomTextView(this);
    textView_->setFrameShape(QFrame::NoFrame);
    textView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    textView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    textView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    textView_->setReadOnly(!isEditable_);
    textView_->setUndoRedoEnabled(true);
    if (font) {
        textView_->setFont(*font);
    }
    textView_->setBackgroundRole(QPalette::Base);
    styleDetailTextEditor(textView_);
    textView_->setPlainText(text_);
    textView_->installEventFilter(this);
    layout->addWidget(textView_);

    connect(textView_, &QPlainTextEdit::textChanged, this, [this] {
        if (pushing_) {
            return;
        }
        writeBack();
        const QTextCursor cursor = textView_->textCursor();
        selectedRange_ = std::pair(cursor.anchor(), cursor.position());
        if (callbacks_.onTextChange) {
            callbacks_.onTextChange(text_);
        }
    });
}

void EditorTextView::setText(const QString& text)
{
    if (text == textView_->toPlainText()) {
        text_ = text;
        return;
    }
    text_ = text;
    pushing_ = true;
    textView_->setPlainText(text_);
    pushing_ = false;
    applyRecordedSelection();
}

void EditorTextView::applyRecordedSelection()
{
    if (!selectedRange_) {
        return;
    }
    // A selection recorded on a longer text is cut back to the end of the new one.
    const int length = static_cast<int>(textView_->toPlainText().size());
    QTextCursor cursor = textView_->textCursor();
    cursor.setPosition(std::clamp(selectedRange_->first, 0, length));
    cursor.setPosition(std::clamp(selectedRange_->second, 0, length), QTextCursor::KeepAnchor);
    textView_->setTextCursor(cursor);
}

void EditorTextView::writeBack()
{
    const QString current = textView_->toPlainText();
    if (current == text_) {
        return;
    }
    text_ = current;
    emit textChanged(text_);
}

bool EditorTextView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == textView_ && isEditable_) {
        if (event->type() == QEvent::FocusIn) {
            writeBack();
            if (callbacks_.onEditingChanged) {
                callbacks_.onEditingChanged();
            }
        } else if (event->type() == QEvent::FocusOut) {
            writeBack();
            if (callbacks_.onCommit) {
                callbacks_.onCommit();
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lumetrove
