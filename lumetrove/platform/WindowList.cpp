#include "lumetrove/platform/WindowList.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <memory>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace lumetrove {
namespace {

xcb_connection_t* x11Connection()
{
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

/// An xcb reply, freed with free() as xcb requires.
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

/// The EWMH atoms of one connection, wiped when done with.
class Ewmh {
public:
    explicit Ewmh(xcb_connection_t* connection)
    {
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &ewmh_);
        ready_ = cookies && xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
    }
    ~Ewmh()
    {
        if (ready_) {
            xcb_ewmh_connection_wipe(&ewmh_);
        }
    }
    Ewmh(const Ewmh&) = delete;
    Ewmh& operator=(const Ewmh&) = delete;

    bool ready() const { return ready_; }
    xcb_ewmh_connection_t* get() { return &ewmh_; }

private:
    xcb_ewmh_connection_t ewmh_{};
    bool ready_ = false;
};

std::optional<QString> utf8Name(Ewmh& ewmh, xcb_window_t window)
{
    xcb_ewmh_get_utf8_strings_reply_t name{};
    if (xcb_ewmh_get_wm_name_reply(ewmh.get(), xcb_ewmh_get_wm_name(ewmh.get(), window), &name, nullptr)) {
        QString text = QString::fromUtf8(name.strings, static_cast<qsizetype>(name.strings_len));
        xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        return text;
    }
    const auto plain = reply(xcb_get_property_reply(
        ewmh.get()->connection,
        xcb_get_property(ewmh.get()->connection, 0, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 1024), nullptr));
    if (!plain || xcb_get_property_value_length(plain.get()) <= 0) {
        return std::nullopt;
    }
    return QString::fromLocal8Bit(static_cast<const char*>(xcb_get_property_value(plain.get())),
                                  xcb_get_property_value_length(plain.get()));
}

/// The class part of WM_CLASS ("instance\0class\0").
std::optional<QString> windowClass(xcb_connection_t* connection, xcb_window_t window)
{
    const auto property = reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024), nullptr));
    if (!property || xcb_get_property_value_length(property.get()) <= 0) {
        return std::nullopt;
    }
    const QByteArray value(static_cast<const char*>(xcb_get_property_value(property.get())),
                           xcb_get_property_value_length(property.get()));
    const QList<QByteArray> parts = value.split('\0');
    if (parts.size() < 2 || parts[1].isEmpty()) {
        return std::nullopt;
    }
    return QString::fromLocal8Bit(parts[1]);
}

WindowRecord readWindow(Ewmh& ewmh, xcb_window_t window)
{
    xcb_connection_t* connection = ewmh.get()->connection;
    WindowRecord record;
    record.id = window;

    const auto geometry = reply(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
    const auto attributes =
        reply(xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr));
    if (geometry) {
        const auto origin = reply(xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, window, geometry->root, 0, 0), nullptr));
        QRect frame(origin ? origin->dst_x : geometry->x, origin ? origin->dst_y : geometry->y, geometry->width,
                    geometry->height);
        xcb_ewmh_get_extents_reply_t extents{};
        if (xcb_ewmh_get_frame_extents_reply(ewmh.get(), xcb_ewmh_get_frame_extents(ewmh.get(), window), &extents,
                                             nullptr)) {
            frame.adjust(-static_cast<int>(extents.left), -static_cast<int>(extents.top),
                         static_cast<int>(extents.right), static_cast<int>(extents.bottom));
        }
        record.frame = frame;
    }
    record.hidden = !attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE;

    uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(ewmh.get(), xcb_ewmh_get_wm_pid(ewmh.get(), window), &pid, nullptr)) {
        record.pid = pid;
    }
    record.className = windowClass(connection, window);
    record.title = utf8Name(ewmh, window);

    xcb_ewmh_get_atoms_reply_t types{};
    if (xcb_ewmh_get_wm_window_type_reply(ewmh.get(), xcb_ewmh_get_wm_window_type(ewmh.get(), window), &types,
                                          nullptr)) {
        // The first type the window names is the one it prefers; it is normal or a dialog, or something else.
        record.normalOrDialog = types.atoms_len == 0 || types.atoms[0] == ewmh.get()->_NET_WM_WINDOW_TYPE_NORMAL ||
                                types.atoms[0] == ewmh.get()->_NET_WM_WINDOW_TYPE_DIALOG;
        xcb_ewmh_get_atoms_reply_wipe(&types);
    }
    xcb_ewmh_get_atoms_reply_t states{};
    if (xcb_ewmh_get_wm_state_reply(ewmh.get(), xcb_ewmh_get_wm_state(ewmh.get(), window), &states, nullptr)) {
        for (uint32_t i = 0; i < states.atoms_len; ++i) {
            record.hidden = record.hidden || states.atoms[i] == ewmh.get()->_NET_WM_STATE_HIDDEN;
        }
        xcb_ewmh_get_atoms_reply_wipe(&states);
    }
    uint32_t desktop = 0;
    if (xcb_ewmh_get_wm_desktop_reply(ewmh.get(), xcb_ewmh_get_wm_desktop(ewmh.get(), window), &desktop, nullptr)) {
        record.desktop = desktop;
    }
    return record;
}

} // namespace

WindowStack readWindowStack()
{
    WindowStack stack;
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return stack;
    }
    Ewmh ewmh(connection);
    if (!ewmh.ready()) {
        return stack;
    }
    const int screen = 0; // one X screen; monitors are parts of it
    uint32_t desktop = 0;
    if (xcb_ewmh_get_current_desktop_reply(ewmh.get(), xcb_ewmh_get_current_desktop(ewmh.get(), screen), &desktop,
                                           nullptr)) {
        stack.currentDesktop = desktop;
    }
    xcb_ewmh_get_windows_reply_t clients{};
    if (!xcb_ewmh_get_client_list_stacking_reply(ewmh.get(), xcb_ewmh_get_client_list_stacking(ewmh.get(), screen),
                                                 &clients, nullptr)) {
        return stack;
    }
    for (uint32_t i = clients.windows_len; i > 0; --i) {
        stack.frontToBack.push_back(readWindow(ewmh, clients.windows[i - 1]));
    }
    xcb_ewmh_get_windows_reply_wipe(&clients);
    return stack;
}

bool compositingManagerRunning()
{
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        return false;
    }
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(0);
    const auto atom = reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.constData()), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE) {
        return false;
    }
    const auto owner =
        reply(xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

std::vector<ScreenGeometry> screenGeometries()
{
    std::vector<ScreenGeometry> screens;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect logical = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        screens.push_back(ScreenGeometry{
            QRect((QPointF(logical.topLeft()) * ratio).toPoint(), (QSizeF(logical.size()) * ratio).toSize()), logical,
            ratio});
    }
    return screens;
}

QRectF nativeToLogical(const QRect& native, const std::vector<ScreenGeometry>& screens)
{
    if (screens.empty()) {
        return QRectF(native);
    }
    const auto holder = std::find_if(screens.begin(), screens.end(), [&](const ScreenGeometry& screen) {
        return screen.native.contains(native.topLeft());
    });
    const ScreenGeometry& screen = holder != screens.end() ? *holder : screens.front();
    const QPointF topLeft = QPointF(screen.logical.topLeft()) +
                            QPointF(native.topLeft() - screen.native.topLeft()) / screen.devicePixelRatio;
    return QRectF(topLeft, QSizeF(native.size()) / screen.devicePixelRatio);
}

} // namespace lumetrove
