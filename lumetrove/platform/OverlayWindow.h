#pragma once

#include <QImage>
#include <QWidget>

class QScreen;

namespace lumetrove {

/// Linux stand-in for a borderless overlay window at a high window level: a frameless, stay-on-top,
/// unmanaged top-level widget that covers one screen exactly and takes the keyboard and the mouse, holding
/// one content widget. Where no compositing manager runs, a translucent window would show black, so the
/// overlay is given a still image of its screen, taken before it appeared, and paints that under its content.
/// On Wayland, where no program places its windows, the overlay is a full-screen window on its screen.
///
/// Overlays carry their level in the dynamic property `levelProperty`, which is how every overlay of the
/// application is found again, whoever made it.
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
