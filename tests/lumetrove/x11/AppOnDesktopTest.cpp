// The built program on the desktop that scripts/test starts (Xvfb, openbox, trayer), driven from outside as a
// user would: through its tray icon, the screen, the mouse and the keyboard. What the program did is read from
// its library (the database, read-only) and from the pixels it shows.

#include "lumetrove/browser/ThumbnailCache.h"
#include "lumetrove/capture/ImageUtilities.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "sqlite/Connection.h"
#include "tests/aiclient/LoopbackServer.h"
#include "tests/lumetrove/Sandbox.h"
#include "tests/lumetrove/x11/DesktopSupport.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegion>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
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

    /// Starts the program with its own home, data, settings and runtime directories and no session bus, and the
    /// AI service on `aiPort` of the loopback interface.
    void startProgram(int aiPort)
    {
        QProcessEnvironment environment = testing::programEnvironment(sandbox_);
        environment.insert(QStringLiteral("LUMETROVE_AI_SERVICE_URL"),
                           QStringLiteral("http://127.0.0.1:%1").arg(aiPort));
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(QStringLiteral(LUMETROVE_PROGRAM), {});
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

    /// Where the row's thumbnail `thumbnail` is drawn in the main window now, in root-window coordinates.
    std::optional<QRect> thumbnailOnScreen(const QImage& thumbnail) const
    {
        const std::optional<QRect> frame = mainWindowFrame();
        if (!frame) {
            return std::nullopt;
        }
        const QImage grabbed = x_.grab(*frame);
        const std::optional<QPoint> at = findImage(grabbed, thumbnail);
        return at ? std::optional<QRect>(QRect(frame->topLeft() + *at, thumbnail.size())) : std::nullopt;
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
    const qint64 pid = program_.processId();

    // The tray icon appears: the system tray embeds a window of the program.
    ASSERT_TRUE(
        processEventsUntil([&] { return !x_.embeddedIn(QStringLiteral("trayer"), pid).empty(); }, stepTimeoutMs))
        << "no tray icon of the program was embedded in the system tray";
    const QRect icon = x_.embeddedIn(QStringLiteral("trayer"), pid).front().geometry;
    ASSERT_TRUE(processEventsUntil([&] { return mainWindowFrame().has_value(); }, stepTimeoutMs));

    // The text to capture, in another application's window below the main window's list.
    openTextWindow(1100, 820);

    // Its menu opens on a click, and "Take Screenshot" is chosen in it.
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
    ASSERT_TRUE(processEventsUntil(
        [&] { return (item = findText(x_.grab(*menu), QStringLiteral("Take Screenshot"))).has_value(); },
        stepTimeoutMs))
        << "the tray menu shows no \"Take Screenshot\"";
    ASSERT_TRUE(clickAt(menu->topLeft() + item->center()));

    // The capture covers the screens; a drag over the text window's lines takes them.
    const QPoint dragStart(1110, 835);
    const QPoint dragEnd(1545, 965);
    ASSERT_TRUE(processEventsUntil(
        [&] {
            QRegion covered;
            for (const XWindow& window : x_.unmanagedWindows(pid)) {
                covered += window.geometry;
            }
            return covered.contains(dragStart) && covered.contains(dragEnd) &&
                   covered.boundingRect().contains(QGuiApplication::primaryScreen()->geometry());
        },
        stepTimeoutMs))
        << "choosing \"Take Screenshot\" started no capture";
    ASSERT_TRUE(
        xdotool({QStringLiteral("mousemove"), QString::number(dragStart.x()), QString::number(dragStart.y()),
                 QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"), QStringLiteral("1300"),
                 QStringLiteral("900"), QStringLiteral("mousemove"), QString::number(dragEnd.x()),
                 QString::number(dragEnd.y()), QStringLiteral("mouseup"), QStringLiteral("1")}));

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
            return row && row->name == QStringLiteral("Quarterly Budget Review");
        },
        stepTimeoutMs))
        << "the AI service's answer did not rename the screenshot; its name is "
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

} // namespace
} // namespace lumetrove
