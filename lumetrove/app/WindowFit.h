#pragma once

// Fitting the main window to the screen it is on: the columns' sizes and the window's own sizes are kept
// where the screen has room for them and give way to the screen's available area where it has not.

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

class QMainWindow;
class QScreen;

namespace lumetrove {

class ContentView;

/// Widths of the main window's three columns, leading to trailing.
struct ColumnWidths {
    int sidebar = 0;
    int list = 0;
    int detail = 0;

    int sum() const { return sidebar + list + detail; }
    friend bool operator==(const ColumnWidths&, const ColumnWidths&) = default;
};

/// Minimum widths that fit in `width` (the columns' share of the window, handles taken off). The wanted
/// minimums are kept when they fit; otherwise the sidebar keeps its own (it needs it to show its counts)
/// and the list and detail columns give up the difference, as equally as their own minimums allow, down to
/// `floor` each; then the sidebar gives way, down to `floor`. Below that the columns keep `floor`: a window
/// that narrow cannot be helped.
ColumnWidths fitColumnMinimums(ColumnWidths wanted, int width, int floor);

/// How `width` is shared among the columns at the start: each at least its minimum, then the room left
/// goes towards the ideal widths (in proportion to what each lacks), then to the list and detail columns.
/// The sidebar never exceeds `sidebarMaximum`. Widths below the minimums' sum give the minimums.
ColumnWidths divideColumns(ColumnWidths minimums, ColumnWidths ideals, int sidebarMaximum, int width);

/// Where a window whose frame is `frame` goes so that all of it lies in `available`: where it is when it
/// already does, otherwise moved the least way in. A frame larger than `available` keeps its top left corner
/// inside it.
QPoint placeInside(const QRect& frame, const QRect& available);

/// Keeps the main window inside its screen's available area: when it is first shown it takes
/// `defaultSize` where that fits and the room there is otherwise; its minimum sizes (the first-launch one
/// included) and the columns' minimums give way to that room; a window that comes up partly off its screen
/// is moved (and if need be shrunk) into it. Follows the window to other screens and changes of the screen's
/// available area (a panel that appears). The window's size is left alone otherwise. Main thread.
class MainWindowFit : public QObject {
    Q_OBJECT

public:
    MainWindowFit(QMainWindow& window, ContentView& content, QSize defaultSize);

    /// The minimum size the window asks for (none: its layout's), kept within the room.
    void setWantedMinimumSize(QSize size);

    /// Fits the window's minimums to a screen whose available area is `available` (desktop coordinates);
    /// the first call also gives the window its starting size there. What the events call; tests call it
    /// with a screen of their choosing.
    void fitTo(const QRect& available);

    /// The room a window has on a screen whose available area is `available`: that area less the window
    /// manager's frame (as last seen, or estimated before the window was first framed).
    QSize roomIn(const QRect& available) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitToScreen();
    void followScreen(QScreen* screen);
    /// Once the window manager has framed the window: moves (and shrinks) it into its screen if it is not.
    void keepFrameInside(const QRect& available);
    void shrinkToRoomOnWayland();
    QMargins frameMargins() const;

    QMainWindow& window_;
    ContentView& content_;
    QSize defaultSize_;
    QSize wantedMinimum_;
    QPointer<QScreen> screen_;
    /// The available area of the screen fitted to last; invalid before the first fit.
    QRect available_;
    QMargins knownFrame_;
    bool sized_ = false;
    bool frameCheckPending_ = false;
};

} // namespace lumetrove
