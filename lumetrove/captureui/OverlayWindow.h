#pragma once

#include <QImage>
#include <QWidget>

class QScreen;

namespace lumetrove {

/// A frameless, stay-on-top, unmanaged window that covers one screen and takes the keyboard and the mouse,
/// holding one content widget; on Wayland, where no program places its windows, a full-screen window on its
/// screen. Without a compositing manager it paints a still image of its screen, taken before it appeared,
/// under its content. Every overlay carries its level in `levelProperty`, by which the application's
/// overlays are found again, whoever made them.
class OverlayWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* levelProperty = "lumetroveWindowLevel";

    /// `frozenScreen` null means the window is translucent (a compositor draws what lies below).
    OverlayWindow(QScreen& screen, int level, QWidget* content, QImage frozenScreen);

    /// Shows the overlay over its screen and gives it the keyboard focus.
    void showOverScreen();

    /// Paints `frozenScreen` under the content from now on (a translucent overlay whose still image came later).
    void setFrozenScreen(QImage frozenScreen);
    /// The still image painted under the content; null for a translucent overlay.
    const QImage& frozenScreen() const { return frozenScreen_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QScreen* screen_;
    QImage frozenScreen_;
};

} // namespace lumetrove
