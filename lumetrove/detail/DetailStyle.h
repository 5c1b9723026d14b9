#pragma once

#include <QFont>
#include <QTextEdit>

class QPlainTextEdit;
class QWidget;

namespace lumetrove {

// The look shared by the detail pane's views: fonts named after the text styles the design uses, the text
// editors' insets and colours.

/// The application font, `scale` times its size, optionally bold: title2 ≈ 1.3, title3 ≈ 1.15.
QFont scaledFont(const QWidget* widget, double scale, bool bold);
constexpr double kTitle2Scale = 1.3;
constexpr double kTitle3Scale = 1.15;

/// Draws the widget's window text at `opacity`.
void fadeText(QWidget* widget, double opacity);

/// The text-background colour (also around the viewport) and the text colour
/// "ScreenshotDetailTextEditorForegroundColor".
void styleDetailTextEditor(QPlainTextEdit* editor);

/// A read-only block of text that can be selected and scrolled but never changes what it shows except
/// through `setPlainText`: the AI summary and the assistant's answer. At least 50 points high, as high as
/// its text for the width it gets, no scroll bars; insets 18 at the top, 12 at the sides, 20 at the bottom.
class TextBlockView : public QTextEdit {
    Q_OBJECT

public:
    explicit TextBlockView(QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    mutable int cachedWidth_ = -1;
    mutable int cachedHeight_ = 0;
};

} // namespace lumetrove
