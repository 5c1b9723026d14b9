#include "lumetrove/detail/ProcessButtonView.h"

#include "lumetrove/ai/AIVisionViewModel.h"
#include "lumetrove/detail/AILoadingIconView.h"
#include "lumetrove/platform/Symbols.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace lumetrove {
namespace {

const QSize faceSize(150, 25);
const QSize indicatorSize(50, 20);

} // namespace

ProcessButtonView::ProcessButtonView(AIVisionViewModel& model, CurrentTask currentTask,
                                     std::function<void()> aiProcessScreenshotAction, QWidget* parent)
    : QAbstractButton(parent), model_(model), currentTask_(std::move(currentTask)),
      indicator_(new AILoadingIconView(QColor::fromRgbF(181 / 255.0, 182 / 255.0, 183 / 255.0), this))
{
    setText(QStringLiteral("Process With AI"));
    setIcon(symbolIcon(QStringLiteral("brain.head.profile")));
    setAccessibleName(text());
    // The button decides what a press on the indicator does: nothing.
    indicator_->setAttribute(Qt::WA_TransparentForMouseEvents);
    indicator_->resize(indicatorSize);
    connect(this, &QAbstractButton::clicked, this, [this, action = std::move(aiProcessScreenshotAction)] {
        // A second request would be paid for again and its answer would replace the first one's.
        if (action && !showsBusyFace()) {
            action();
        }
    });
    connect(&model_, &AIVisionViewModel::isLoadingChanged, this, &ProcessButtonView::refresh);
    refresh();
}

bool ProcessButtonView::showsBusyFace() const
{
    if (!model_.isLoading() || !currentTask_) {
        return false;
    }
    const std::shared_ptr<AnalysisTask> task = currentTask_();
    return task && !task->isCancelled();
}

void ProcessButtonView::refresh()
{
    const bool busy = showsBusyFace();
    indicator_->setVisible(busy);
    setCursor(busy ? Qt::ArrowCursor : Qt::PointingHandCursor);
    update();
}

bool ProcessButtonView::hitButton(const QPoint& position) const
{
    // Not even a press: one begun on the indicator must not become a click when the answer lands before the
    // release.
    return !showsBusyFace() && QAbstractButton::hitButton(position);
}

void ProcessButtonView::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    indicator_->move((width() - indicatorSize.width()) / 2, (height() - indicatorSize.height()) / 2);
}

void ProcessButtonView::paintEvent(QPaintEvent*)
{
    if (indicator_->isVisible()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face(QPointF((width() - faceSize.width()) / 2.0, (height() - faceSize.height()) / 2.0), faceSize);
    QLinearGradient gradient(face.topLeft(), face.topRight());
    gradient.setColorAt(0, QColor(0, 122, 255));
    gradient.setColorAt(0.5, QColor(175, 82, 222));
    gradient.setColorAt(1, QColor(255, 59, 48));
    QPainterPath rounded;
    rounded.addRoundedRect(face, 8, 8);
    painter.fillPath(rounded, gradient);

    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(Qt::white);
    const int iconSide = 16;
    const int spacing = 6;
    const int textWidth = QFontMetrics(bold).horizontalAdvance(text());
    const int rowWidth = (icon().isNull() ? 0 : iconSide + spacing) + textWidth;
    int x = qRound(face.center().x() - rowWidth / 2.0);
    if (!icon().isNull()) {
        // The symbol is drawn in white, whatever colour its image has.
        QPixmap glyph = icon().pixmap(iconSide, iconSide);
        QPainter tint(&glyph);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(glyph.rect(), Qt::white);
        tint.end();
        painter.drawPixmap(x, qRound(face.center().y() - iconSide / 2.0), glyph);
        x += iconSide + spacing;
    }
    painter.drawText(QRectF(x, face.top(), textWidth + 1, face.height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    if (hasFocus()) {
        // The keyboard's place, as every button of the desktop shows it: Tab stops here and Space presses. White,
        // as the label, so that it shows on every colour of the face.
        QPainterPath ring;
        ring.addRoundedRect(face.adjusted(2, 2, -2, -2), 6, 6);
        painter.strokePath(ring, QPen(QColor(255, 255, 255, 230), 1.5));
    }
}

} // namespace lumetrove
