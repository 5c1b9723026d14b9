#include "lumetrove/platform/ScreenUncover.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <optional>
#include <vector>
#include <xcb/damage.h>
#include <xcb/xcb.h>

namespace lumetrove {
namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

xcb_connection_t* x11Connection()
{
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

/// The first event code of the damage reports on `connection`, once the version is agreed (the server takes
/// no other request of the extension before); 0 when the server has none.
quint8 damageFirstEvent(xcb_connection_t* connection)
{
    static xcb_connection_t* agreedOn = nullptr;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_damage_id);
    if (!extension || !extension->present) {
        return 0;
    }
    if (agreedOn != connection) {
        const auto version = reply(xcb_damage_query_version_reply(
            connection, xcb_damage_query_version(connection, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
            nullptr));
        if (!version) {
            return 0;
        }
        agreedOn = connection;
    }
    return extension->first_event;
}

QRect rectangle(const xcb_rectangle_t& area)
{
    return QRect(area.x, area.y, area.width, area.height);
}

/// A window's frame: the top-level window that the window manager put around it, or the window itself.
struct Frame {
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_window_t root = XCB_WINDOW_NONE;
};

/// The window manager's frame is the top-level window whose place on the screen is freed. Empty when the
/// server does not answer.
std::optional<Frame> topLevelFrame(xcb_connection_t* connection, xcb_window_t window)
{
    Frame frame{window, XCB_WINDOW_NONE};
    for (;;) {
        const auto tree = reply(xcb_query_tree_reply(connection, xcb_query_tree(connection, frame.window), nullptr));
        if (!tree) {
            return std::nullopt;
        }
        frame.root = tree->root;
        if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE) {
            return frame;
        }
        frame.window = tree->parent;
    }
}

/// A window stacked above the frame, its state and place asked for and not yet read.
struct Above {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
};

/// Asks for the state and place of every window stacked above `frame` among the root's `children`.
std::vector<Above> askWindowsAbove(xcb_connection_t* connection, const xcb_window_t* children, int count,
                                   xcb_window_t frame)
{
    int position = 0;
    while (position < count && children[position] != frame) {
        ++position;
    }
    std::vector<Above> above;
    for (int index = position + 1; index < count; ++index) {
        above.push_back(
            {xcb_get_window_attributes(connection, children[index]), xcb_get_geometry(connection, children[index])});
    }
    return above;
}

/// What the windows among `above` that are on the screen cover of it.
QRegion coveredBy(xcb_connection_t* connection, const std::vector<Above>& above)
{
    QRegion covered;
    for (const Above& window : above) {
        const auto attributes = reply(xcb_get_window_attributes_reply(connection, window.attributes, nullptr));
        const auto box = reply(xcb_get_geometry_reply(connection, window.geometry, nullptr));
        if (attributes && box && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
            attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT) {
            const int border = 2 * box->border_width;
            covered += QRect(box->x, box->y, box->width + border, box->height + border);
        }
    }
    return covered;
}

/// What the frame covers of the screen, less what the windows above it cover: those stay, and nothing below
/// them is drawn again. Empty when the server does not answer, and for a frame that is not on the screen (on
/// another desktop): that uncovers nothing, there is nothing to wait for.
std::optional<QRegion> uncoveredByFrame(xcb_connection_t* connection, const Frame& frame)
{
    const auto siblings = reply(xcb_query_tree_reply(connection, xcb_query_tree(connection, frame.root), nullptr));
    if (!siblings) {
        return std::nullopt;
    }
    const xcb_get_geometry_cookie_t rootGeometry = xcb_get_geometry(connection, frame.root);
    const xcb_get_geometry_cookie_t frameGeometry = xcb_get_geometry(connection, frame.window);
    const xcb_get_window_attributes_cookie_t frameAttributes = xcb_get_window_attributes(connection, frame.window);
    const std::vector<Above> above = askWindowsAbove(connection, xcb_query_tree_children(siblings.get()),
                                                     xcb_query_tree_children_length(siblings.get()), frame.window);
    const auto rootBox = reply(xcb_get_geometry_reply(connection, rootGeometry, nullptr));
    const auto frameBox = reply(xcb_get_geometry_reply(connection, frameGeometry, nullptr));
    const auto frameState = reply(xcb_get_window_attributes_reply(connection, frameAttributes, nullptr));
    const bool onScreen = frameState && frameState->map_state == XCB_MAP_STATE_VIEWABLE;
    QRegion uncovered;
    if (rootBox && frameBox) {
        const int border = 2 * frameBox->border_width;
        uncovered = QRegion(QRect(frameBox->x, frameBox->y, frameBox->width + border, frameBox->height + border))
                        .intersected(QRect(0, 0, rootBox->width, rootBox->height));
    }
    uncovered -= coveredBy(connection, above);
    if (!onScreen) {
        return std::nullopt;
    }
    return uncovered;
}

} // namespace

std::unique_ptr<ScreenUncoverWatch> ScreenUncoverWatch::start(quintptr window, bool unmapped)
{
    xcb_connection_t* connection = QGuiApplication::platformName() == QLatin1String("xcb") ? x11Connection() : nullptr;
    if (!connection || window == 0) {
        return nullptr;
    }
    const quint8 damageEvent = damageFirstEvent(connection);
    if (damageEvent == 0) {
        return nullptr;
    }
    const std::optional<Frame> frame = topLevelFrame(connection, static_cast<xcb_window_t>(window));
    if (!frame) {
        return nullptr;
    }
    const std::optional<QRegion> uncovered = uncoveredByFrame(connection, *frame);
    if (!uncovered) {
        return nullptr;
    }

    std::unique_ptr<ScreenUncoverWatch> watch(new ScreenUncoverWatch);
    watch->connection_ = connection;
    watch->frame_ = frame->window;
    watch->frameIsWindow_ = frame->window == static_cast<xcb_window_t>(window);
    watch->damageEvent_ = damageEvent;
    watch->waitForUnmap_ = unmapped;
    watch->uncovered_ = *uncovered;
    watch->damage_ = xcb_generate_id(connection);
    xcb_damage_create(connection, watch->damage_, frame->root, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    if (unmapped && !watch->frameIsWindow_) {
        // The frame is the window manager's: this program hears of its unmapping only when it asks to.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, frame->window, XCB_CW_EVENT_MASK, &mask);
    }
    xcb_flush(connection);
    QCoreApplication::instance()->installNativeEventFilter(watch.get());
    return watch;
}

ScreenUncoverWatch::~ScreenUncoverWatch()
{
    release();
}

void ScreenUncoverWatch::whenUncovered(std::chrono::milliseconds patience, std::function<void()> done)
{
    done_ = std::move(done);
    patience_.setSingleShot(true);
    connect(&patience_, &QTimer::timeout, this, &ScreenUncoverWatch::finish);
    patience_.start(patience);
    check();
}

bool ScreenUncoverWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (released_ || eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7f;
    if (type == damageEvent_ + XCB_DAMAGE_NOTIFY) {
        const auto* damage = reinterpret_cast<const xcb_damage_notify_event_t*>(event);
        if (damage->damage != damage_) {
            return false;
        }
        // Before the frame leaves, what is drawn there is the window or its frame.
        if (!waitForUnmap_ || frameGone_) {
            drawn_ += rectangle(damage->area);
            check();
        }
        return true;
    }
    xcb_window_t gone = XCB_WINDOW_NONE;
    xcb_window_t heardOn = XCB_WINDOW_NONE;
    if (type == XCB_UNMAP_NOTIFY) {
        const auto* unmap = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
        gone = unmap->window;
        heardOn = unmap->event;
    } else if (type == XCB_DESTROY_NOTIFY) {
        const auto* destroy = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
        gone = destroy->window;
        heardOn = destroy->event;
    }
    if (gone == XCB_WINDOW_NONE || gone != frame_) {
        return false;
    }
    if (waitForUnmap_ && !frameGone_) {
        frameGone_ = true;
        drawn_ = QRegion();
        check();
    }
    // The toolkit's own window's events are the toolkit's too; the frame's are this watch's alone.
    return !frameIsWindow_ && heardOn == frame_;
}

void ScreenUncoverWatch::check()
{
    if (!done_ || (waitForUnmap_ && !frameGone_) || !uncovered_.subtracted(drawn_).isEmpty()) {
        return;
    }
    // Told from the event loop, not from inside the toolkit's event handling.
    QTimer::singleShot(0, this, &ScreenUncoverWatch::finish);
    release();
}

void ScreenUncoverWatch::finish()
{
    release();
    patience_.stop();
    if (const std::function<void()> done = std::exchange(done_, nullptr)) {
        done();
    }
}

void ScreenUncoverWatch::release()
{
    if (released_) {
        return;
    }
    released_ = true;
    if (!qGuiApp) {
        return; // the connection went with the application
    }
    QCoreApplication::instance()->removeNativeEventFilter(this);
    auto* connection = static_cast<xcb_connection_t*>(connection_);
    xcb_damage_destroy(connection, damage_);
    if (waitForUnmap_ && !frameIsWindow_) {
        // The frame may be gone already: an error about it would only be noise.
        const uint32_t none = XCB_EVENT_MASK_NO_EVENT;
        xcb_discard_reply(connection,
                          xcb_change_window_attributes_checked(connection, frame_, XCB_CW_EVENT_MASK, &none).sequence);
    }
    xcb_flush(connection);
}

} // namespace lumetrove
