#pragma once

#include <QColor>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <array>

namespace lumetrove {

/// One pulsing circle: it fades between opacity 0.3 (`isAnimating` true) and 0.7 (false), each fade starting
/// `delay` seconds after the change. While shown, a timer of its own flips `isAnimating` every 0.6 s; hiding or
/// destroying the circle stops the timer and any fade. Main thread.
class LoadingCircle : public QWidget {
    Q_OBJECT

public:
    static constexpr int pulseIntervalMs = 600;
    /// The length of one fade (the ease-in-out curve's usual duration).
    static constexpr int fadeDurationMs = 350;

    LoadingCircle(bool isAnimating, double delay, QColor color, QWidget* parent = nullptr);

    bool isAnimating() const { return isAnimating_; }
    double delay() const { return delay_; }
    QColor color() const { return color_; }
    /// The opacity drawn now.
    double opacity() const { return opacity_; }
    /// Whether the pulse timer runs.
    bool isPulsing() const { return pulse_.isActive(); }

    /// Flips `isAnimating`; the opacity follows after the delay.
    void toggle();

    QSize sizeHint() const override { return QSize(12, 12); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    /// Runs when the circle appears: starts the timer, then flips once at once.
    void startPulsing();
    void stopPulsing();

    bool isAnimating_;
    double delay_;
    QColor color_;
    double opacity_;
    QTimer pulse_;
    QTimer delayed_;
    QVariantAnimation fade_;
};

/// The indicator shown while an AI request runs: blue, purple and red circles side by side whose fades run
/// one after the other (0.1, 0.2, 0.4 s), so a wave goes from left to right. `clearGray` is kept for the code
/// that made it and is not drawn. Main thread.
class AILoadingIconView : public QWidget {
    Q_OBJECT

public:
    explicit AILoadingIconView(QColor clearGray, QWidget* parent = nullptr);

    QColor clearGray() const { return clearGray_; }
    /// The three circles, left to right.
    const std::array<LoadingCircle*, 3>& circles() const { return circles_; }

private:
    QColor clearGray_;
    std::array<LoadingCircle*, 3> circles_;
};

} // namespace lumetrove
