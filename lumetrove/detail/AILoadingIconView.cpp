#include "lumetrove/detail/AILoadingIconView.h"

#include <QHBoxLayout>
#include <QPainter>

namespace lumetrove {
namespace {

double opacityFor(bool isAnimating)
{
    return isAnimating ? 0.3 : 0.7;
}

} // namespace

LoadingCircle::LoadingCircle(bool isAnimating, double delay, QColor color, QWidget* parent)
    : QWidget(parent), isAnimating_(isAnimating), delay_(delay), color_(color), opacity_(opacityFor(isAnimating))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_TranslucentBackground);
    pulse_.setInterval(pulseIntervalMs);
    connect(&pulse_, &QTimer::timeout, this, &LoadingCircle::toggle);
    delayed_.setSingleShot(true);
    connect(&delayed_, &QTimer::timeout, this, [this] {
        fade_.stop();
        fade_.setStartValue(opacity_);
        fade_.setEndValue(opacityFor(isAnimating_));
        fade_.start();
    });
    fade_.setDuration(fadeDurationMs);
    fade_.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        opacity_ = value.toDouble();
        update();
    });
}

void LoadingCircle::toggle()
{
    isAnimating_ = !isAnimating_;
    delayed_.start(qRound(delay_ * 1000));
}

void LoadingCircle::startPulsing()
{
    pulse_.start();
    toggle();
}

void LoadingCircle::stopPulsing()
{
    pulse_.stop();
    delayed_.stop();
    fade_.stop();
}

void LoadingCircle::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startPulsing();
}

void LoadingCircle::hideEvent(QHideEvent* event)
{
    // Hidden circles keep no timer running: an indicator shown many times leaves nothing behind.
    stopPulsing();
    QWidget::hideEvent(event);
}

void LoadingCircle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color_);
    const qreal diameter = std::min(width(), height());
    painter.drawEllipse(QRectF((width() - diameter) / 2, (height() - diameter) / 2, diameter, diameter));
}

AILoadingIconView::AILoadingIconView(QColor clearGray, QWidget* parent) : QWidget(parent), clearGray_(clearGray)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    circles_ = {new LoadingCircle(true, 0.1, QColor(0, 122, 255), this),
                new LoadingCircle(true, 0.2, QColor(175, 82, 222), this),
                new LoadingCircle(true, 0.4, QColor(255, 59, 48), this)};
    for (LoadingCircle* circle : circles_) {
        row->addWidget(circle, 1, Qt::AlignVCenter);
    }
}

} // namespace lumetrove
