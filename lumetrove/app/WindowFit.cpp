#include "lumetrove/app/WindowFit.h"

#include "lumetrove/app/ContentView.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QStyle>
#include <QWindow>
#include <algorithm>

namespace lumetrove {

ColumnWidths fitColumnMinimums(ColumnWidths wanted, int width, int floor)
{
    if (wanted.sum() <= width) {
        return wanted;
    }
    // What the list and detail columns share, each given no more than it wants and no less than the floor.
    const int shared = std::max(0, width - wanted.sidebar);
    ColumnWidths fitted = wanted;
    fitted.list = std::clamp(shared / 2, std::min(floor, wanted.list), wanted.list);
    fitted.detail = std::clamp(shared - fitted.list, std::min(floor, wanted.detail), wanted.detail);
    // A detail column that wants less than half leaves the rest to the list.
    fitted.list = std::clamp(shared - fitted.detail, std::min(floor, wanted.list), wanted.list);
    // With both at the floor, the sidebar gives way too, down to the floor: a window wider than its screen
    // would put the detail column's controls beyond the edge.
    fitted.sidebar = std::clamp(width - fitted.list - fitted.detail, std::min(floor, wanted.sidebar), wanted.sidebar);
    return fitted;
}

ColumnWidths divideColumns(ColumnWidths minimums, ColumnWidths ideals, int sidebarMaximum, int width)
{
    ColumnWidths widths = minimums;
    int room = width - minimums.sum();
    if (room <= 0) {
        return widths;
    }
    // The sidebar first, as far as its ideal: the counts and names read best there.
    const int sidebarGrowth = std::clamp(std::min(ideals.sidebar, sidebarMaximum) - minimums.sidebar, 0, room);
    widths.sidebar += sidebarGrowth;
    room -= sidebarGrowth;
    // Then the list and detail columns towards their ideals, in proportion to what each lacks.
    const int listGap = std::max(0, ideals.list - minimums.list);
    const int detailGap = std::max(0, ideals.detail - minimums.detail);
    if (room <= listGap + detailGap) {
        const int listGrowth = listGap + detailGap > 0 ? room * listGap / (listGap + detailGap) : 0;
        widths.list += listGrowth;
        widths.detail += room - listGrowth;
        return widths;
    }
    room -= listGap + detailGap;
    widths.list = std::max(widths.list, ideals.list) + room / 2;
    widths.detail = std::max(widths.detail, ideals.detail) + room - room / 2;
    return widths;
}

QPoint placeInside(const QRect& frame, const QRect& available)
{
    QPoint position = frame.topLeft();
    if (frame.right() > available.right()) {
        position.rx() -= frame.right() - available.right();
    }
    if (frame.bottom() > available.bottom()) {
        position.ry() -= frame.bottom() - available.bottom();
    }
    position.setX(std::max(position.x(), available.left()));
    position.setY(std::max(position.y(), available.top()));
    return position;
}

MainWindowFit::MainWindowFit(QMainWindow& window, ContentView& content, QSize defaultSize)
    : QObject(&window), window_(window), content_(content), defaultSize_(defaultSize)
{
    window_.installEventFilter(this);
}

void MainWindowFit::setWantedMinimumSize(QSize size)
{
    wantedMinimum_ = size;
    const QSize room = available_.isValid() ? roomIn(available_) : size;
    window_.setMinimumSize(size.isValid() ? size.boundedTo(room) : QSize(0, 0));
}

QMargins MainWindowFit::frameMargins() const
{
    if (!knownFrame_.isNull()) {
        return knownFrame_;
    }
    // Before the window manager has framed the window: a title bar and thin borders, as most draw them.
    const QStyle* style = window_.style();
    const int border = std::max(1, style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window_));
    const int title = std::max(24, style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window_));
    return {border, title + border, border, border};
}

QSize MainWindowFit::roomIn(const QRect& available) const
{
    const QMargins frame = frameMargins();
    return available.size().shrunkBy(frame).expandedTo(QSize(1, 1));
}

void MainWindowFit::fitTo(const QRect& available)
{
    available_ = available;
    const QSize room = roomIn(available);
    content_.setAvailableWidth(room.width());
    setWantedMinimumSize(wantedMinimum_);
    if (!sized_) {
        sized_ = true;
        const QSize size = defaultSize_.boundedTo(room);
        content_.divideColumns(size.width());
        window_.resize(size);
    }
    if (window_.isVisible() && !knownFrame_.isNull()) {
        keepFrameInside(available);
    }
}

void MainWindowFit::fitToScreen()
{
    if (QScreen* screen = window_.screen()) {
        fitTo(screen->availableGeometry());
    }
}

void MainWindowFit::followScreen(QScreen* screen)
{
    if (screen == screen_) {
        return;
    }
    if (screen_ != nullptr) {
        disconnect(screen_, nullptr, this, nullptr);
    }
    screen_ = screen;
    if (screen_ != nullptr) {
        // A panel that comes or goes changes the room the window has.
        connect(screen_, &QScreen::availableGeometryChanged, this, &MainWindowFit::fitTo);
    }
}

void MainWindowFit::shrinkToRoomOnWayland()
{
    // A Wayland compositor sizes the window itself, and tells the size of another output before the window
    // learns that it is on it: that size was held up by the minimums of the output left behind and is not told
    // again. So the window gives way to its new output's room itself.
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")) || !window_.isVisible()) {
        return;
    }
    // The size a compositor gives leaves its own frame out: the output's whole area is the bound.
    const QSize size = window_.size().boundedTo(available_.size()).expandedTo(window_.minimumSize());
    if (size != window_.size()) {
        window_.resize(size);
    }
}

void MainWindowFit::keepFrameInside(const QRect& available)
{
    const QRect frame = window_.frameGeometry();
    if (available.contains(frame)) {
        return;
    }
    const QSize size =
        window_.size().boundedTo(available.size().shrunkBy(knownFrame_)).expandedTo(window_.minimumSize());
    if (size != window_.size()) {
        window_.resize(size);
    }
    window_.move(placeInside(QRect(frame.topLeft(), size.grownBy(knownFrame_)), available));
}

bool MainWindowFit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &window_) {
        return false;
    }
    switch (event->type()) {
    case QEvent::Show:
        if (QWindow* handle = window_.windowHandle(); handle != nullptr && screen_ == nullptr) {
            // Moved to another screen, the window keeps to that screen's room (its minimums; its size stays
            // as the user leaves it).
            connect(handle, &QWindow::screenChanged, this, [this](QScreen* screen) {
                followScreen(screen);
                if (screen != nullptr) {
                    available_ = screen->availableGeometry();
                    content_.setAvailableWidth(roomIn(available_).width());
                    setWantedMinimumSize(wantedMinimum_);
                    shrinkToRoomOnWayland();
                }
            });
        }
        followScreen(window_.screen());
        fitToScreen();
        // The window manager places and frames the window after this: once it has, the frame is checked.
        frameCheckPending_ = true;
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (frameCheckPending_ && window_.isVisible() && window_.frameGeometry() != window_.geometry()) {
            frameCheckPending_ = false;
            const QRect frame = window_.frameGeometry();
            const QRect client = window_.geometry();
            knownFrame_ = QMargins(client.left() - frame.left(), client.top() - frame.top(),
                                   frame.right() - client.right(), frame.bottom() - client.bottom());
            if (QScreen* screen = window_.screen()) {
                fitTo(screen->availableGeometry());
            }
        }
        break;
    default:
        break;
    }
    return false;
}

} // namespace lumetrove
