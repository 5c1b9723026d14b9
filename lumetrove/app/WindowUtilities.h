#pragma once

// Small helpers between views and their windows: a host that lays its content over its whole area, a probe
// that reports which window it is in, and centring a window each time it is shown. Main thread.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

namespace lumetrove {

/// Hosts one widget over the whole of its own area: no margins, no insets. Used to lay out a view off screen
/// at a fixed size before rendering it.
class NoInsetHostingView : public QWidget {
    Q_OBJECT

public:
    explicit NoInsetHostingView(QWidget* rootView, QWidget* parent = nullptr);

    QWidget* rootView() const { return rootView_; }
    /// Always zero: the hosted view is laid out over the whole frame.
    QMargins safeAreaInsets() const { return {}; }

private:
    QWidget* rootView_;
};

/// An invisible widget that calls `onChange` with its window each time that changes: when it is placed in a
/// window, moved to another one, or taken out (null). Its window at creation is not reported; the same window
/// twice in a row is reported once. Its window is the top-level window of its parent, none without a parent.
class WindowAccessor : public QWidget {
    Q_OBJECT

public:
    explicit WindowAccessor(std::function<void(QWidget*)> onChange, QWidget* parent = nullptr);

    QWidget* currentWindow() const { return window_; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Watches every ancestor for re-parenting, so a move of any of them is seen.
    void watchAncestors();
    void check();

    std::function<void(QWidget*)> onChange_;
    QPointer<QWidget> window_;
    std::vector<QPointer<QWidget>> watched_;
};

/// Centres windows each time they become visible.
class WindowCentering {
public:
    /// With a window: from now on, each time it is shown (not now, if it already is) it becomes
    /// `centeredWindow` and is centred on its screen; earlier calls keep their windows. With null: every
    /// window set up so far stops being centred and `centeredWindow` is cleared.
    static void centerWhenShown(QWidget* window);

    /// The window most recently centred.
    static QWidget* centeredWindow();
};

} // namespace lumetrove
