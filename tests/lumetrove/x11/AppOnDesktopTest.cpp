// The built program on the desktop that scripts/test starts (Xvfb, openbox, trayer), driven from outside as a
// user would: through its tray icon, the screen, the mouse and the keyboard. What the program did is read from
// its library (the database, read-only) and from the pixels it shows.

#include "lumetrove/browser/ScreenshotRowDelegate.h"
#include "lumetrove/browser/ThumbnailCache.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "sqlite/Connection.h"
#include "tests/aiclient/LoopbackServer.h"
#include "tests/lumetrove/Sandbox.h"
#include "tests/lumetrove/x11/DesktopSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegion>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <unistd.h>
#include <xcb/xcb.h>

namespace lumetrove {
namespace {

using testing::processEventsUntil;

// Every step waits generously: the program and this test run under the sanitizers beside many other tests.
constexpr int stepTimeoutMs = 60000;

/// Runs xdotool with `arguments` while the event loop goes on.
bool xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return processEventsUntil([&] { return process.state() == QProcess::NotRunning; }, stepTimeoutMs) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool clickAt(QPoint point)
{
    return xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
                    QStringLiteral("click"), QStringLiteral("1")});
}

/// The box of the first run of recognised words that reads `phrase` (case aside; the last word may be cut
/// short or run on, as a glyph beside it can be read into it), in the image's pixels.
std::optional<QRect> findText(const QImage& image, const QString& phrase)
{
    const QStringList wanted = phrase.split(QLatin1Char(' '));
    for (const RecognizedLine& line : makeTesseractTextRecognizer()->recognize(image).lines) {
        const auto& words = line.words;
        for (std::size_t first = 0; first + wanted.size() <= words.size(); ++first) {
            QRectF box;
            bool matches = true;
            for (qsizetype i = 0; i < wanted.size() && matches; ++i) {
                const QString& word = words[first + i].text;
                matches = i + 1 < wanted.size() ? word.compare(wanted[i], Qt::CaseInsensitive) == 0
                                                : word.startsWith(wanted[i], Qt::CaseInsensitive);
                box = box.united(words[first + i].boundingBox);
            }
            if (matches) {
                return box.toAlignedRect();
            }
        }
    }
    return std::nullopt;
}

/// Where `needle` lies in `haystack` pixel for pixel: each channel within a small tolerance, its transparent
/// pixels and outer ring (the row draws a border over it) left out. None when nowhere.
std::optional<QPoint> findImage(const QImage& haystack, const QImage& needle)
{
    constexpr int ring = 2;
    constexpr int tolerance = 12;
    const QImage inner =
        needle.convertToFormat(QImage::Format_ARGB32).copy(needle.rect().adjusted(ring, ring, -ring, -ring));
    auto close = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
               std::abs(qBlue(a) - qBlue(b)) <= tolerance;
    };
    // The darkest opaque pixel of the needle rules out most places with one comparison.
    QPoint anchor;
    int darkest = 256 * 3;
    int opaque = 0;
    for (int y = 0; y < inner.height(); ++y) {
        for (int x = 0; x < inner.width(); ++x) {
            const QRgb pixel = inner.pixel(x, y);
            if (qAlpha(pixel) < 255) {
                continue;
            }
            ++opaque;
            if (qRed(pixel) + qGreen(pixel) + qBlue(pixel) < darkest) {
                darkest = qRed(pixel) + qGreen(pixel) + qBlue(pixel);
                anchor = QPoint(x, y);
            }
        }
    }
    if (opaque == 0) {
        return std::nullopt;
    }
    const QRgb anchorPixel = inner.pixel(anchor);
    const int allowed = opaque / 100;
    for (int top = 0; top + inner.height() <= haystack.height(); ++top) {
        for (int left = 0; left + inner.width() <= haystack.width(); ++left) {
            if (!close(haystack.pixel(left + anchor.x(), top + anchor.y()), anchorPixel)) {
                continue;
            }
            int misses = 0;
            for (int y = 0; y < inner.height() && misses <= allowed; ++y) {
                const auto* want = reinterpret_cast<const QRgb*>(inner.constScanLine(y));
                const auto* have = reinterpret_cast<const QRgb*>(haystack.constScanLine(top + y)) + left;
                for (int x = 0; x < inner.width(); ++x) {
                    misses += qAlpha(want[x]) < 255 || close(want[x], have[x]) ? 0 : 1;
                }
            }
            if (misses <= allowed) {
                return QPoint(left - ring, top - ring);
            }
        }
    }
    return std::nullopt;
}

/// A window of the X server as the test needs to know it.
struct XWindow {
    xcb_window_t id = 0;
    QRect geometry; // root-window coordinates
    bool viewable = false;
    bool overrideRedirect = false;
    std::optional<qint64> pid;
    QString wmClass; // the class part of WM_CLASS
};

/// Reads the window tree over a connection of its own.
class XServer {
public:
    XServer() : connection_(xcb_connect(nullptr, nullptr), xcb_disconnect)
    {
        if (xcb_connection_has_error(connection_.get()) == 0) {
            const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_.get())).data;
            root_ = screen->root;
            desktop_ = QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
            pidAtom_ = atom("_NET_WM_PID");
        }
    }

    /// The windows below `parent` (the root when 0), depth first, each with what `describe` reads.
    std::vector<XWindow> windows(xcb_window_t parent = 0, bool recursive = true) const
    {
        std::vector<XWindow> found;
        collect(parent == 0 ? root_ : parent, recursive, found);
        return found;
    }

    /// The windows of process `pid` embedded anywhere below a window of class `className`.
    std::vector<XWindow> embeddedIn(const QString& className, qint64 pid) const
    {
        std::vector<XWindow> found;
        for (const XWindow& host : windows()) {
            if (host.wmClass != className) {
                continue;
            }
            for (const XWindow& window : windows(host.id)) {
                if (window.pid == pid && window.viewable && !window.geometry.isEmpty()) {
                    found.push_back(window);
                }
            }
        }
        return found;
    }

    /// The override-redirect windows (menus, overlays) of process `pid` now on the screen.
    std::vector<XWindow> unmanagedWindows(qint64 pid) const
    {
        std::vector<XWindow> found;
        for (const XWindow& window : windows(0, false)) {
            if (window.pid == pid && window.viewable && window.overrideRedirect) {
                found.push_back(window);
            }
        }
        return found;
    }

    QRect desktop() const { return desktop_; }

    /// Asks the window manager, as a pager does for the user, to move `window` so that its client area's top
    /// left corner is at `position` (root-window coordinates).
    void moveWindow(xcb_window_t window, QPoint position) const
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("_NET_MOVERESIZE_WINDOW");
        // Static gravity (the client area's corner), x and y given, asked for by the user (source 2).
        message.data.data32[0] = XCB_GRAVITY_STATIC | (1u << 8) | (1u << 9) | (2u << 12);
        message.data.data32[1] = static_cast<quint32>(position.x());
        message.data.data32[2] = static_cast<quint32>(position.y());
        xcb_send_event(connection_.get(), 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection_.get());
    }

    /// The pixels of the desktop inside `rect` (root-window coordinates), straight from the server, whatever
    /// screens the desktop is split into.
    QImage grab(const QRect& rect) const
    {
        if (!desktop_.contains(rect)) {
            return QImage();
        }
        return testing::grabRootImage(connection_.get(), root_, rect);
    }

private:
    xcb_atom_t atom(const char* name) const
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection_.get(), xcb_intern_atom(connection_.get(), 0, std::strlen(name), name),
                                  nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    void collect(xcb_window_t parent, bool recursive, std::vector<XWindow>& found) const
    {
        xcb_connection_t* c = connection_.get();
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr), &std::free);
        if (!tree) {
            return;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            found.push_back(describe(children[i]));
            if (recursive) {
                collect(children[i], true, found);
            }
        }
    }

    XWindow describe(xcb_window_t id) const
    {
        xcb_connection_t* c = connection_.get();
        XWindow window;
        window.id = id;
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr), &std::free);
        if (attributes) {
            window.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            window.overrideRedirect = attributes->override_redirect != 0;
        }
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr), &std::free);
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> origin(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, root_, 0, 0), nullptr), &std::free);
        if (geometry && origin) {
            window.geometry = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        }
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> pid(
            xcb_get_property_reply(c, xcb_get_property(c, 0, id, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr),
            &std::free);
        if (pid && xcb_get_property_value_length(pid.get()) == 4) {
            window.pid = *static_cast<const quint32*>(xcb_get_property_value(pid.get()));
        }
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> wmClass(
            xcb_get_property_reply(c, xcb_get_property(c, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr),
            &std::free);
        if (wmClass) {
            const QByteArray value(static_cast<const char*>(xcb_get_property_value(wmClass.get())),
                                   xcb_get_property_value_length(wmClass.get()));
            const QList<QByteArray> parts = value.split('\0');
            if (parts.size() > 1) {
                window.wmClass = QString::fromUtf8(parts[1]);
            }
        }
        return window;
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_;
    xcb_window_t root_ = 0;
    QRect desktop_;
    xcb_atom_t pidAtom_ = XCB_ATOM_NONE;
};

/// One screenshot as the library database holds it.
struct LibraryRow {
    qint64 id = 0;
    QString name;
    QString text;
    QString path;
};

class AppOnDesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            GTEST_SKIP() << "no X display: the desktop tests run under scripts/test, which starts one";
        }
        // The key is in the program's settings before it starts, as a user would have entered it.
        ASSERT_NO_FATAL_FAILURE(testing::prepareProgramSandbox(sandbox_, QStringLiteral("sk-desktop-test")));
    }

    void TearDown() override
    {
        for (QProcess* process : {&program_, &textWindow_}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    /// The environment of the program: its own home, data, settings and runtime directories and no session bus,
    /// and the AI service on `aiPort` of the loopback interface.
    QProcessEnvironment programEnvironment(int aiPort) const
    {
        QProcessEnvironment environment = testing::programEnvironment(sandbox_);
        environment.insert(QStringLiteral("LUMETROVE_AI_SERVICE_URL"),
                           QStringLiteral("http://127.0.0.1:%1").arg(aiPort));
        return environment;
    }

    /// Starts the program in `programEnvironment`, with `extra` variables added to it.
    void startProgram(int aiPort, const QProcessEnvironment& extra = {}, const QStringList& arguments = {})
    {
        QProcessEnvironment environment = programEnvironment(aiPort);
        for (const QString& name : extra.keys()) {
            environment.insert(name, extra.value(name));
        }
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(QStringLiteral(LUMETROVE_PROGRAM), arguments);
        ASSERT_TRUE(program_.waitForStarted()) << program_.errorString().toStdString();
    }

    /// Starts the text window of another application with its top-left corner at (x, y).
    void openTextWindow(int x, int y)
    {
        textWindow_.start(QStringLiteral(LUMETROVE_TEST_WINDOW_PROGRAM), {QString::number(x), QString::number(y)});
        ASSERT_TRUE(processEventsUntil([&] { return textWindow_.canReadLine(); }, stepTimeoutMs))
            << "the text window did not start";
    }

    /// The newest screenshot in the program's library. Read from a copy of the database file: a reader of the
    /// file itself would hold a lock that can make the program's next write fail. A copy taken in the middle of a
    /// write may be unreadable; it is then read again later.
    std::optional<LibraryRow> newestRow() const
    {
        const QString path = sandbox_.filePath(QStringLiteral("data/Lumetrove/db.sqlite3"));
        const QString copy = sandbox_.filePath(QStringLiteral("library-copy.sqlite3"));
        QFile::remove(copy);
        if (!QFile::copy(path, copy)) {
            return std::nullopt;
        }
        try {
            auto connection = sqlite::Connection::openPath(copy.toStdString(), true);
            auto text = [&](const char* column) {
                const auto value =
                    connection->scalar(std::string("SELECT ") + column + " FROM screenshots ORDER BY id DESC LIMIT 1");
                return value && std::holds_alternative<std::string>(*value)
                           ? QString::fromStdString(std::get<std::string>(*value))
                           : QString();
            };
            const auto id = connection->scalar("SELECT id FROM screenshots ORDER BY id DESC LIMIT 1");
            if (!id) {
                return std::nullopt;
            }
            return LibraryRow{std::get<std::int64_t>(*id), text("name"), text("text"), text("path")};
        } catch (const std::exception&) {
            return std::nullopt; // not created yet, or busy: asked again
        }
    }

    /// The first column of the first row `sql` reads from the program's library as text; none while it cannot
    /// be read or reads nothing.
    std::optional<QString> query(const std::string& sql) const
    {
        const QString copy = sandbox_.filePath(QStringLiteral("query-copy.sqlite3"));
        QFile::remove(copy);
        if (!QFile::copy(sandbox_.filePath(QStringLiteral("data/Lumetrove/db.sqlite3")), copy)) {
            return std::nullopt;
        }
        try {
            const auto value = sqlite::Connection::openPath(copy.toStdString(), true)->scalar(sql);
            if (!value) {
                return std::nullopt;
            }
            if (const auto* text = std::get_if<std::string>(&*value)) {
                return QString::fromStdString(*text);
            }
            if (const auto* number = std::get_if<std::int64_t>(&*value)) {
                return QString::number(*number);
            }
            return std::nullopt;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    /// How many screenshots the program's library holds; none while it cannot be read.
    std::optional<qint64> rowCount() const
    {
        const QString copy = sandbox_.filePath(QStringLiteral("count-copy.sqlite3"));
        QFile::remove(copy);
        if (!QFile::copy(sandbox_.filePath(QStringLiteral("data/Lumetrove/db.sqlite3")), copy)) {
            return std::nullopt;
        }
        try {
            const auto value =
                sqlite::Connection::openPath(copy.toStdString(), true)->scalar("SELECT count(*) FROM screenshots");
            return value ? std::optional<qint64>(std::get<std::int64_t>(*value)) : std::nullopt;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    /// The program's main window on the screen: its only large window there. It fits one of the desktop's two
    /// monitors, 800 wide.
    std::optional<XWindow> mainWindow() const
    {
        for (const XWindow& window : x_.windows()) {
            if (window.pid == program_.processId() && window.viewable && !window.overrideRedirect &&
                window.geometry.width() >= 600 && window.geometry.height() >= 400) {
                return window;
            }
        }
        return std::nullopt;
    }
    /// Where the main window is, once all of it is on the desktop. The window manager places a window that
    /// comes up again on the monitor under the mouse, where this one does not fit: it is moved to the top left.
    std::optional<QRect> mainWindowFrame() const
    {
        const std::optional<XWindow> window = mainWindow();
        if (!window) {
            return std::nullopt;
        }
        if (!x_.desktop().contains(window->geometry)) {
            xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), QString::number(window->id),
                     QStringLiteral("0"), QStringLiteral("0")});
            return std::nullopt;
        }
        return window->geometry;
    }

    /// Where the main window is once it has settled: the window manager frames it after it first shows, and the
    /// program then fits it to the room that frame leaves, which can move it by a few pixels. The frame it keeps
    /// for half a second; none if it never keeps one.
    std::optional<QRect> settledMainWindowFrame() const
    {
        std::optional<QRect> last;
        QElapsedTimer kept;
        const bool settled = processEventsUntil(
            [&] {
                const std::optional<QRect> now = mainWindowFrame();
                if (now != last) {
                    last = now;
                    kept.start();
                }
                return last && kept.elapsed() >= 500;
            },
            stepTimeoutMs);
        return settled ? last : std::nullopt;
    }

    /// The program's windows that the window manager shows besides the main window: alerts and dialogs.
    std::vector<XWindow> dialogs() const
    {
        std::vector<XWindow> found;
        const std::optional<XWindow> main = mainWindow();
        for (const XWindow& window : x_.windows()) {
            if (window.pid == program_.processId() && window.viewable && !window.overrideRedirect &&
                (!main || window.id != main->id) && window.geometry.width() >= 100 && window.geometry.height() >= 60) {
                found.push_back(window);
            }
        }
        return found;
    }

    /// Where the row's thumbnail `thumbnail` is drawn in the main window now, in root-window coordinates.
    std::optional<QRect> thumbnailOnScreen(const QImage& thumbnail) const
    {
        const std::optional<QRect> frame = mainWindowFrame();
        if (!frame) {
            return std::nullopt;
        }
        const QImage grabbed = x_.grab(*frame);
        // A narrow list shows compact rows, with a smaller thumbnail.
        for (const QImage& shown : {thumbnail, compactRowThumbnail(thumbnail)}) {
            if (const std::optional<QPoint> at = findImage(grabbed, shown)) {
                return QRect(frame->topLeft() + *at, shown.size());
            }
        }
        return std::nullopt;
    }

    /// Opens the tray icon's menu with a click and chooses `title` in it.
    void chooseInTrayMenu(const QString& title)
    {
        const qint64 pid = program_.processId();
        ASSERT_TRUE(
            processEventsUntil([&] { return !x_.embeddedIn(QStringLiteral("trayer"), pid).empty(); }, stepTimeoutMs))
            << "no tray icon of the program was embedded in the system tray";
        const QRect icon = x_.embeddedIn(QStringLiteral("trayer"), pid).front().geometry;
        ASSERT_TRUE(clickAt(icon.center()));
        std::optional<QRect> menu;
        ASSERT_TRUE(processEventsUntil(
            [&] {
                // The menu, not the icon's tool tip, which may show first.
                for (const XWindow& window : x_.unmanagedWindows(pid)) {
                    if (window.geometry.width() >= 100 && window.geometry.height() >= 60 &&
                        !window.geometry.contains(QGuiApplication::primaryScreen()->geometry())) {
                        menu = window.geometry;
                    }
                }
                return menu.has_value();
            },
            stepTimeoutMs))
            << "the tray icon opened no menu";
        std::optional<QRect> item;
        ASSERT_TRUE(
            processEventsUntil([&] { return (item = findText(x_.grab(*menu), title)).has_value(); }, stepTimeoutMs))
            << "the tray menu shows no \"" << title.toStdString() << "\"";
        ASSERT_TRUE(clickAt(menu->topLeft() + item->center()));
    }

    /// The capture overlays cover the primary screen.
    bool overlaysCoverTheScreen() const
    {
        QRegion covered;
        for (const XWindow& window : x_.unmanagedWindows(program_.processId())) {
            covered += window.geometry;
        }
        return covered.contains(QGuiApplication::primaryScreen()->geometry());
    }

    /// Waits for the capture overlays to cover the screens and drags from `from` to `to` on them.
    void dragOnOverlay(QPoint from, QPoint to)
    {
        const qint64 pid = program_.processId();
        ASSERT_TRUE(processEventsUntil(
            [&] {
                QRegion covered;
                for (const XWindow& window : x_.unmanagedWindows(pid)) {
                    covered += window.geometry;
                }
                return covered.contains(from) && covered.contains(to) &&
                       covered.boundingRect().contains(QGuiApplication::primaryScreen()->geometry());
            },
            stepTimeoutMs))
            << "no capture started";
        const QPoint middle = (from + to) / 2;
        ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
                             QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"),
                             QString::number(middle.x()), QString::number(middle.y()), QStringLiteral("mousemove"),
                             QString::number(to.x()), QString::number(to.y()), QStringLiteral("mouseup"),
                             QStringLiteral("1")}));
    }

    QTemporaryDir sandbox_;
    QProcess program_;
    QProcess textWindow_;
    XServer x_;
};

TEST_F(AppOnDesktopTest, ATrayCaptureIsListedFoundBySearchAndRenamedByTheAIService)
{
    // The AI service: one real-shaped chat answer naming the screenshot.
    aiclient::testing::LoopbackServer service;
    const nlohmann::json answer = {{"name", "Quarterly_Budget Review"},
                                   {"keywords", "budget invoice ledger archive"},
                                   {"description", "A ledger window with the quarterly budget review."}};
    const nlohmann::json message = {{"role", "assistant"}, {"content", answer.dump()}};
    const std::string body =
        nlohmann::json{
            {"id", "chatcmpl-1"},
            {"object", "chat.completion"},
            {"created", 1700000000},
            {"model", "gpt-4o"},
            {"choices", nlohmann::json::array({{{"index", 0}, {"message", message}, {"finish_reason", "stop"}}})},
            {"usage", {{"prompt_tokens", 1000}, {"completion_tokens", 40}, {"total_tokens", 1040}}}}
            .dump();
    service.onPost("/v1/chat/completions", [body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "application/json");
    });

    startProgram(service.port());

    ASSERT_TRUE(processEventsUntil([&] { return mainWindowFrame().has_value(); }, stepTimeoutMs));

    // The text to capture, in another application's window below the main window's list.
    openTextWindow(1100, 820);

    // The tray icon's menu opens on a click, and "Take Screenshot" is chosen in it; the capture covers the
    // screens, and a drag over the text window's lines takes them.
    ASSERT_NO_FATAL_FAILURE(chooseInTrayMenu(QStringLiteral("Take Screenshot")));
    ASSERT_NO_FATAL_FAILURE(dragOnOverlay(QPoint(1110, 835), QPoint(1545, 965)));

    // A row with the recognised text lands in the library.
    std::optional<LibraryRow> row;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            row = newestRow();
            return row && row->text.contains(QStringLiteral("Quarterly budget review"));
        },
        stepTimeoutMs))
        << "no screenshot with the window's text reached the library";
    const QString capturedPath = QUrl(row->path).toLocalFile();
    EXPECT_TRUE(QFile::exists(capturedPath)) << capturedPath.toStdString();
    textWindow_.kill();
    textWindow_.waitForFinished();

    // The list shows the row with its thumbnail, drawn from the thumbnail file as the list draws it.
    const QString thumbnailPath =
        sandbox_.filePath(QStringLiteral("data/Lumetrove/Thumbnails/thumbnail-%1.png").arg(row->id));
    ASSERT_TRUE(processEventsUntil([&] { return !QImage(thumbnailPath).isNull(); }, stepTimeoutMs));
    QImage thumbnail = QImage(thumbnailPath);
    if (thumbnail.width() > rowThumbnailFrame.width() || thumbnail.height() > rowThumbnailFrame.height()) {
        thumbnail = renderThumbnail(thumbnail, rowThumbnailFrame.width(), QSizeF(rowThumbnailFrame));
    }
    std::optional<QRect> shown;
    ASSERT_TRUE(processEventsUntil([&] { return (shown = thumbnailOnScreen(thumbnail)).has_value(); }, stepTimeoutMs))
        << "the list does not show the screenshot's thumbnail";

    // A search by a word of the recognised text (not of its name) finds it; a word it lacks does not.
    ASSERT_FALSE(row->name.contains(QStringLiteral("budget"), Qt::CaseInsensitive));
    ASSERT_TRUE(clickAt(shown->center()));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+Tab")}));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("zqxjv")}));
    EXPECT_TRUE(processEventsUntil([&] { return !thumbnailOnScreen(thumbnail).has_value(); }, stepTimeoutMs))
        << "a search for a word the screenshot lacks still lists it";
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")}));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("budget")}));
    ASSERT_TRUE(processEventsUntil([&] { return (shown = thumbnailOnScreen(thumbnail)).has_value(); }, stepTimeoutMs))
        << "a search for a word of its recognised text does not list the screenshot";

    // Selected, its detail pane's "Process With AI" sends it to the service, whose answer renames it.
    ASSERT_TRUE(clickAt(shown->center()));
    std::optional<QRect> button;
    std::optional<QRect> frame;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            frame = mainWindowFrame();
            return frame && (button = findText(x_.grab(*frame), QStringLiteral("Process With"))).has_value();
        },
        stepTimeoutMs))
        << "the detail pane shows no \"Process With AI\"";
    ASSERT_TRUE(clickAt(frame->topLeft() + button->center()));
    ASSERT_TRUE(processEventsUntil(
        [&] {
            row = newestRow();
            // The row names the new file just before the file is moved to it.
            return row && row->name == QStringLiteral("Quarterly Budget Review") &&
                   QFile::exists(QUrl(row->path).toLocalFile());
        },
        stepTimeoutMs))
        << "the AI service's answer did not rename the screenshot and its file; its name is "
        << (row ? row->name.toStdString() : std::string("unknown"));
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].headers.find("Authorization")->second, "Bearer sk-desktop-test");
    const QString renamedPath = QUrl(row->path).toLocalFile();
    EXPECT_TRUE(QFileInfo(renamedPath).fileName().endsWith(QStringLiteral("Quarterly Budget Review.png")))
        << renamedPath.toStdString();
    EXPECT_EQ(QFileInfo(renamedPath).absolutePath(), QFileInfo(capturedPath).absolutePath());
    EXPECT_TRUE(QFile::exists(renamedPath));
    EXPECT_FALSE(QFile::exists(capturedPath));
}

/// One run of the program as a new user: its name and the variables added to the program's environment (a
/// scale factor, a smaller desktop's settings, …).
struct NewUserRun {
    std::string name;
    QProcessEnvironment extra;
};

class NewUserOnDesktopTest : public AppOnDesktopTest, public ::testing::WithParamInterface<NewUserRun> {
protected:
    void SetUp() override
    {
        AppOnDesktopTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        // A user who has not entered a key yet.
        QSettings settings(sandbox_.filePath(QStringLiteral("config/Lumetrove/Lumetrove.conf")), QSettings::IniFormat);
        settings.remove(QStringLiteral("OpenAIAPIKey"));
        settings.sync();
        ASSERT_EQ(settings.status(), QSettings::NoError);
    }

    /// Captures with a drag on the overlay and waits for the library to hold `rows` screenshots and the main
    /// window to be back on the desktop where it was, `placed`.
    void finishCapture(qint64 rows, QPoint from, QPoint to, const QRect& placed)
    {
        ASSERT_NO_FATAL_FAILURE(dragOnOverlay(from, to));
        ASSERT_TRUE(processEventsUntil([&] { return rowCount() == rows; }, stepTimeoutMs))
            << "the library holds " << rowCount().value_or(-1) << " screenshots, not " << rows;
        std::optional<XWindow> window;
        ASSERT_TRUE(processEventsUntil(
            [&] {
                window = mainWindow();
                return window && window->geometry == placed;
            },
            stepTimeoutMs))
            << "the main window did not come back where it was, at " << placed.x() << "," << placed.y() << " "
            << placed.width() << "x" << placed.height() << ", but "
            << (window ? QStringLiteral("at %1,%2 %3x%4")
                             .arg(window->geometry.x())
                             .arg(window->geometry.y())
                             .arg(window->geometry.width())
                             .arg(window->geometry.height())
                       : QStringLiteral("not at all"))
                   .toStdString();
    }
};

TEST_P(NewUserOnDesktopTest, WithNoKeyTheAlertIsAnsweredAndCapturesFromEveryPlaceLeaveTheWindowUsable)
{
    startProgram(0, GetParam().extra);
    ASSERT_TRUE(settledMainWindowFrame());

    // The key alert comes up on the window's first appearance, on screen, and "Cancel" answers it.
    std::optional<QRect> alert;
    std::optional<QRect> cancel;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            for (const XWindow& window : dialogs()) {
                if ((cancel = findText(x_.grab(window.geometry), QStringLiteral("Cancel")))) {
                    alert = window.geometry;
                    return true;
                }
            }
            return false;
        },
        stepTimeoutMs))
        << "no key alert with \"Cancel\" is to be seen";
    ASSERT_TRUE(clickAt(alert->topLeft() + cancel->center()));
    ASSERT_TRUE(processEventsUntil([&] { return dialogs().empty(); }, stepTimeoutMs)) << "the alert stayed";

    // What the captures take: another application's lines of text, a different part of them each time, so that
    // each screenshot's thumbnail is its own.
    openTextWindow(1100, 820);

    // The user has moved the window to the right monitor, a little lower than the window manager put it on the
    // left one, where it would place a window that comes up anew.
    std::optional<XWindow> window = mainWindow();
    ASSERT_TRUE(window);
    const QRect placed = window->geometry.translated(800, 57);
    x_.moveWindow(window->id, placed.topLeft());
    ASSERT_TRUE(processEventsUntil(
        [&] {
            window = mainWindow();
            return window && window->geometry == placed;
        },
        stepTimeoutMs))
        << "the window manager did not move the window";

    // A capture from the toolbar's "Screenshot" button.
    std::optional<QRect> frame = mainWindowFrame();
    ASSERT_TRUE(frame);
    std::optional<QRect> button;
    const QRect toolbar(frame->topLeft(), QSize(frame->width(), std::min(frame->height(), 120)));
    ASSERT_TRUE(processEventsUntil(
        [&] { return (button = findText(x_.grab(toolbar), QStringLiteral("Screenshot"))).has_value(); }, stepTimeoutMs))
        << "the toolbar shows no \"Screenshot\"";
    ASSERT_TRUE(clickAt(toolbar.topLeft() + button->center()));
    ASSERT_NO_FATAL_FAILURE(finishCapture(1, QPoint(1110, 835), QPoint(1545, 965), placed));

    // One from the tray icon's menu.
    ASSERT_NO_FATAL_FAILURE(chooseInTrayMenu(QStringLiteral("Take Screenshot")));
    ASSERT_NO_FATAL_FAILURE(finishCapture(2, QPoint(1120, 850), QPoint(1480, 950), placed));

    // One with Ctrl+N in the main window, which the stored capture brought to the front: a modal alert left
    // over it, seen or not, would take the key.
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+n")}));
    ASSERT_NO_FATAL_FAILURE(finishCapture(3, QPoint(1105, 828), QPoint(1380, 990), placed));
    EXPECT_TRUE(dialogs().empty()) << "an alert came back after the captures";

    // A search in the window's search field hides the newest screenshot's row, and clearing it shows it again.
    const std::optional<LibraryRow> row = newestRow();
    ASSERT_TRUE(row);
    const QString thumbnailPath =
        sandbox_.filePath(QStringLiteral("data/Lumetrove/Thumbnails/thumbnail-%1.png").arg(row->id));
    ASSERT_TRUE(processEventsUntil([&] { return !QImage(thumbnailPath).isNull(); }, stepTimeoutMs));
    QImage thumbnail(thumbnailPath);
    if (thumbnail.width() > rowThumbnailFrame.width() || thumbnail.height() > rowThumbnailFrame.height()) {
        thumbnail = renderThumbnail(thumbnail, rowThumbnailFrame.width(), QSizeF(rowThumbnailFrame));
    }
    std::optional<QRect> shown;
    ASSERT_TRUE(processEventsUntil([&] { return (shown = thumbnailOnScreen(thumbnail)).has_value(); }, stepTimeoutMs))
        << "the list does not show the newest screenshot";
    ASSERT_TRUE(clickAt(shown->center()));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("shift+Tab")}));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("zqxjv")}));
    EXPECT_TRUE(processEventsUntil([&] { return !thumbnailOnScreen(thumbnail).has_value(); }, stepTimeoutMs))
        << "the search field took no input";
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}));
    EXPECT_TRUE(processEventsUntil([&] { return thumbnailOnScreen(thumbnail).has_value(); }, stepTimeoutMs))
        << "clearing the search did not list the screenshot again";

    // "Quit" in the tray menu ends the program.
    ASSERT_NO_FATAL_FAILURE(chooseInTrayMenu(QStringLiteral("Quit")));
    ASSERT_TRUE(processEventsUntil([&] { return program_.state() == QProcess::NotRunning; }, stepTimeoutMs))
        << "the program did not quit";
    EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program_.exitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Desktop, NewUserOnDesktopTest, ::testing::Values(NewUserRun{"plain", {}}),
                         [](const ::testing::TestParamInfo<NewUserRun>& info) { return info.param.name; });

TEST_F(AppOnDesktopTest, ANewFolderTakesItsTypedNameAndARowDraggedOntoItByHandIsFiledThere)
{
    // A picture handed to the program at its start is its one screenshot.
    QImage picture(480, 320, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    for (int i = 0; i < 8; ++i) {
        painter.fillRect(QRect(i * 60, 0, 30, 320), QColor::fromHsv(i * 40, 200, 180));
    }
    painter.end();
    const QString file = sandbox_.filePath(QStringLiteral("stripes.png"));
    ASSERT_TRUE(picture.save(file));
    startProgram(0, {}, {file});
    ASSERT_TRUE(processEventsUntil([&] { return rowCount() == 1; }, stepTimeoutMs)) << "the picture was not imported";
    std::optional<QRect> frame;
    ASSERT_TRUE(processEventsUntil([&] { return (frame = mainWindowFrame()).has_value(); }, stepTimeoutMs));

    // "New Folder", then a name typed and Return: the folder has that name, not the default one and it.
    std::optional<QRect> button;
    ASSERT_TRUE(processEventsUntil(
        [&] { return (button = findText(x_.grab(*frame), QStringLiteral("New Folder"))).has_value(); }, stepTimeoutMs))
        << "the sidebar shows no \"New Folder\"";
    ASSERT_TRUE(clickAt(frame->topLeft() + button->center()));
    ASSERT_TRUE(processEventsUntil([&] { return query("SELECT count(*) FROM folders") == QStringLiteral("1"); },
                                   stepTimeoutMs));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("Receipts")}));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    EXPECT_TRUE(processEventsUntil(
        [&] { return query("SELECT folder_name FROM folders") == QStringLiteral("Receipts"); }, stepTimeoutMs))
        << "the folder is named " << query("SELECT folder_name FROM folders").value_or(QString()).toStdString();

    // The new folder is selected and empty: "All" lists the screenshot again.
    std::optional<QRect> all;
    ASSERT_TRUE(processEventsUntil([&] { return (all = findText(x_.grab(*frame), QStringLiteral("All"))).has_value(); },
                                   stepTimeoutMs))
        << "the sidebar shows no \"All\"";
    ASSERT_TRUE(clickAt(frame->topLeft() + all->center()));

    // The row, pressed and moved by hand to the folder: 15 pixels every 30 ms.
    const QString thumbnailPath = sandbox_.filePath(QStringLiteral("data/Lumetrove/Thumbnails/thumbnail-%1.png")
                                                        .arg(query("SELECT id FROM screenshots").value_or(QString())));
    ASSERT_TRUE(processEventsUntil([&] { return !QImage(thumbnailPath).isNull(); }, stepTimeoutMs));
    QImage thumbnail(thumbnailPath);
    if (thumbnail.width() > rowThumbnailFrame.width() || thumbnail.height() > rowThumbnailFrame.height()) {
        thumbnail = renderThumbnail(thumbnail, rowThumbnailFrame.width(), QSizeF(rowThumbnailFrame));
    }
    std::optional<QRect> row;
    ASSERT_TRUE(processEventsUntil([&] { return (row = thumbnailOnScreen(thumbnail)).has_value(); }, stepTimeoutMs))
        << "the list does not show the screenshot";
    std::optional<QRect> folder;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            frame = mainWindowFrame();
            return frame && (folder = findText(x_.grab(*frame), QStringLiteral("Receipts"))).has_value();
        },
        stepTimeoutMs))
        << "the sidebar shows no \"Receipts\"";
    const QPoint from = row->center();
    const QPoint to = frame->topLeft() + folder->center();
    QStringList steps{QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
                      QStringLiteral("mousedown"), QStringLiteral("1")};
    const QPoint delta = to - from;
    const int count = std::max(1, static_cast<int>(std::hypot(delta.x(), delta.y()) / 15));
    for (int i = 1; i <= count; ++i) {
        const QPoint at = from + delta * i / count;
        steps << QStringLiteral("sleep") << QStringLiteral("0.03") << QStringLiteral("mousemove")
              << QString::number(at.x()) << QString::number(at.y());
    }
    steps << QStringLiteral("sleep") << QStringLiteral("0.1") << QStringLiteral("mouseup") << QStringLiteral("1");
    ASSERT_TRUE(xdotool(steps));
    EXPECT_TRUE(processEventsUntil(
        [&] { return query("SELECT count(*) FROM folders_screenshots") == QStringLiteral("1"); }, stepTimeoutMs))
        << "the screenshot was not filed in the folder";
}

TEST_F(AppOnDesktopTest, FilesHandedOverDuringACaptureWaitForItsEndAndEscapeStillEndsIt)
{
    startProgram(0);
    const std::optional<QRect> placed = settledMainWindowFrame();
    ASSERT_TRUE(placed);
    ASSERT_NO_FATAL_FAILURE(chooseInTrayMenu(QStringLiteral("Take Screenshot")));
    ASSERT_TRUE(processEventsUntil([&] { return overlaysCoverTheScreen(); }, stepTimeoutMs)) << "no capture started";

    // A second launch hands over a picture and a file that is none, whose report would take the keyboard.
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QString good = sandbox_.filePath(QStringLiteral("a.png"));
    const QString bad = sandbox_.filePath(QStringLiteral("text.png"));
    ASSERT_TRUE(picture.save(good));
    QFile text(bad);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a picture\n");
    text.close();
    QProcess launch;
    launch.setProcessEnvironment(programEnvironment(0));
    launch.setProcessChannelMode(QProcess::ForwardedChannels);
    launch.start(QStringLiteral(LUMETROVE_PROGRAM), {good, bad});
    ASSERT_TRUE(processEventsUntil([&] { return launch.state() == QProcess::NotRunning; }, stepTimeoutMs));
    ASSERT_EQ(launch.exitCode(), 0);
    // Time for the running program to act on what it was handed, as a user takes before pressing a key.
    processEventsUntil([] { return false; }, 1500);
    EXPECT_FALSE(mainWindow().has_value()) << "the main window came up under the overlays";
    EXPECT_TRUE(dialogs().empty()) << "a window came up over the overlays";

    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(processEventsUntil([&] { return !overlaysCoverTheScreen(); }, stepTimeoutMs))
        << "Escape did not end the capture";
    std::optional<QRect> back;
    const auto shown = [](const std::optional<QRect>& frame) {
        return frame ? QStringLiteral("%1,%2 %3x%4")
                           .arg(frame->x())
                           .arg(frame->y())
                           .arg(frame->width())
                           .arg(frame->height())
                           .toStdString()
                     : std::string("none");
    };
    EXPECT_TRUE(processEventsUntil([&] { return (back = mainWindowFrame()) == placed; }, stepTimeoutMs))
        << "the main window did not come back where it was: " << shown(placed) << " then " << shown(back);
    EXPECT_TRUE(processEventsUntil([&] { return rowCount() == 1; }, stepTimeoutMs)) << "the picture was not imported";
    EXPECT_TRUE(processEventsUntil([&] { return dialogs().size() == 1; }, stepTimeoutMs))
        << "the file left out was not reported after the capture";
}

TEST_F(AppOnDesktopTest, OfCopiesStartedAtOnceExactlyOneRunsAndGetsTheOthersFiles)
{
    // No runtime directory in the session: the copies meet in a private one they make in the temporary directory.
    const QString temporary = sandbox_.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(temporary));
    QProcessEnvironment environment = programEnvironment(0);
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("TMPDIR"), temporary);

    constexpr int copies = 5;
    std::vector<std::unique_ptr<QProcess>> launches;
    for (int i = 0; i < copies; ++i) {
        QImage image(40 + i, 30, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        const QString file = sandbox_.filePath(QStringLiteral("handed-%1.png").arg(i));
        ASSERT_TRUE(image.save(file));
        launches.push_back(std::make_unique<QProcess>());
        launches.back()->setProcessEnvironment(environment);
        launches.back()->setProcessChannelMode(QProcess::ForwardedChannels);
    }
    for (int i = 0; i < copies; ++i) {
        launches[i]->start(QStringLiteral(LUMETROVE_PROGRAM),
                           {sandbox_.filePath(QStringLiteral("handed-%1.png").arg(i))});
    }
    auto running = [&] {
        return std::count_if(launches.begin(), launches.end(),
                             [](const auto& launch) { return launch->state() != QProcess::NotRunning; });
    };
    ASSERT_TRUE(processEventsUntil([&] { return running() <= 1; }, stepTimeoutMs)) << running() << " copies still run";
    // The one that runs imports every copy's file; then no other has come up meanwhile.
    ASSERT_TRUE(processEventsUntil([&] { return rowCount() == copies; }, stepTimeoutMs))
        << "the library holds " << rowCount().value_or(-1) << " of the " << copies << " files";
    EXPECT_EQ(running(), 1);
    QProcess* first = nullptr;
    for (const auto& launch : launches) {
        if (launch->state() == QProcess::NotRunning) {
            EXPECT_EQ(launch->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(launch->exitCode(), 0);
        } else {
            first = launch.get();
        }
    }
    ASSERT_NE(first, nullptr);

    // A relaunch, as the permission window starts one before its instance quits, waits for that instance to
    // let go and then runs in its place: a later launch hands its file to it.
    QProcess relaunched;
    relaunched.setProcessEnvironment(environment);
    relaunched.setProcessChannelMode(QProcess::ForwardedChannels);
    relaunched.start(QStringLiteral(LUMETROVE_PROGRAM), {QStringLiteral("--relaunched")});
    ASSERT_TRUE(relaunched.waitForStarted());
    // It holds the lock file open while it waits for the lock; one that gave up at once has let go of it.
    const QString runtime = temporary + QStringLiteral("/lumetrove-%1").arg(::geteuid());
    const QString lock = runtime + QStringLiteral("/lumetrove-instance.lock");
    const auto waitsForLock = [&] {
        const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(relaunched.processId()));
        const QStringList names = descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        return std::any_of(names.begin(), names.end(), [&](const QString& name) {
            return QFile::symLinkTarget(descriptors.filePath(name)) == lock;
        });
    };
    EXPECT_TRUE(processEventsUntil(waitsForLock, stepTimeoutMs)) << "the relaunch never waited for the lock";
    EXPECT_EQ(relaunched.state(), QProcess::Running) << "the relaunch gave up while the instance before it ran";
    first->terminate();
    ASSERT_TRUE(processEventsUntil([&] { return first->state() == QProcess::NotRunning; }, stepTimeoutMs));
    QProcess later;
    later.setProcessEnvironment(environment);
    later.setProcessChannelMode(QProcess::ForwardedChannels);
    later.start(QStringLiteral(LUMETROVE_PROGRAM), {sandbox_.filePath(QStringLiteral("handed-0.png"))});
    EXPECT_TRUE(processEventsUntil([&] { return later.state() == QProcess::NotRunning; }, stepTimeoutMs))
        << "a launch after the relaunch runs on its own";
    EXPECT_TRUE(processEventsUntil([&] { return rowCount() == copies + 1; }, stepTimeoutMs))
        << "the relaunched instance did not import the later launch's file";
    EXPECT_EQ(relaunched.state(), QProcess::Running);
    relaunched.kill();
    relaunched.waitForFinished();
    EXPECT_EQ(QFileInfo(runtime).permissions() &
                  (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
              0);
}

} // namespace
} // namespace lumetrove
