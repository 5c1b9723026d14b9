#include "lumetrove/detail/DetailStyle.h"

#include "lumetrove/platform/NamedColors.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <algorithm>
#include <cmath>
#include <memory>

namespace lumetrove {

namespace {

constexpr int kMinimumBlockHeight = 50;
const QMargins kBlockInsets(12, 18, 12, 20);

void applyForeground(QWidget* editor)
{
    QPalette palette = editor->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    const QColor foreground = namedColor(u"ScreenshotDetailTextEditorForegroundColor", palette);
    if (foreground.isValid()) {
        palette.setColor(QPalette::Text, foreground);
    }
    editor->setPalette(palette);
    // The insets around the viewport are painted in the text background too.
    editor->setBackgroundRole(QPalette::Base);
    editor->setAutoFillBackground(true);
}

} // namespace

QFont scaledFont(const QWidget* widget, double scale, bool bold)
{
    QFont font = widget ? widget->font() : QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * scale);
    } else {
        font.setPixelSize(std::max(1, static_cast<int>(font.pixelSize() * scale)));
    }
    font.setBold(bold);
    return font;
}

void fadeText(QWidget* widget, double opacity)
{
    QPalette palette = widget->palette();
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(static_cast<float>(opacity));
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(palette);
}

void styleDetailTextEditor(QPlainTextEdit* editor)
{
    applyForeground(editor);
}

TextBlockView::TextBlockView(QWidget* parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setAcceptRichText(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setViewportMargins(kBlockInsets);
    QFont body = font();
    body.setPixelSize(16);
    setFont(body);
    applyForeground(this);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        cachedWidth_ = -1;
        updateGeometry();
    });
}

int TextBlockView::heightForWidth(int width) const
{
    if (width == cachedWidth_) {
        return cachedHeight_;
    }
    // Measured on a copy so that asking never relayouts the shown document.
    std::unique_ptr<QTextDocument> copy(document()->clone());
    copy->setDefaultFont(font());
    copy->setTextWidth(std::max(1, width - kBlockInsets.left() - kBlockInsets.right()));
    const int height = static_cast<int>(std::ceil(copy->size().height())) + kBlockInsets.top() + kBlockInsets.bottom();
    cachedWidth_ = width;
    cachedHeight_ = std::max(kMinimumBlockHeight, height);
    return cachedHeight_;
}

QSize TextBlockView::sizeHint() const
{
    const int width = std::max(200, this->width());
    return {width, heightForWidth(width)};
}

QSize TextBlockView::minimumSizeHint() const
{
    return {50, kMinimumBlockHeight};
}

} // namespace lumetrove
