// The built program on screens of ordinary sizes, each on a private desktop of exactly that size (Xvfb, openbox,
// trayer): 1280 × 800, and 2560 × 1440 at a scale factor of 2. A user starts it for the first time, then opens
// three pictures with it; the window must lie inside the screen's work area and the sidebar show every count.

#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/x11/DesktopSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sys/prctl.h>
#include <xcb/xcb.h>

namespace lumetrove {
namespace {

// Every step waits generously: the program runs under the sanitizers beside other tests.
constexpr int stepTimeoutMs = 90000;

template <typename Predicate> bool waitUntil(Predicate done, int timeoutMs = stepTimeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return done();
        }
        QThread::msleep(20);
    }
    return true;
}

/// A program of the private desktop, which dies with the test process.
class DesktopProcess : public QProcess {
public:
    DesktopProcess()
    {
        setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    }
    ~DesktopProcess() override
    {
        if (state() != QProcess::NotRunning) {
            kill();
            waitForFinished();
        }
    }
};

/// A connection to an X display, with the few reads the test needs.
class Display {
public:
    explicit Display(const QString& name)
        : connection_(xcb_connect(name.toLatin1().constData(), nullptr), xcb_disconnect)
    {
        if (xcb_connection_has_error(connection_.get()) == 0) {
            root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_.get())).data->root;
        }
    }
    bool connected() const { return root_ != 0; }

    bool selectionOwned(const char* name) const
    {
        std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
            xcb_get_selection_owner_reply(c(), xcb_get_selection_owner(c(), atom(name)), nullptr), &std::free);
        return owner && owner->owner != XCB_NONE;
    }

    /// A CARDINAL list property of `window` (the root when 0).
    std::vector<quint32> cardinals(xcb_window_t window, const char* name) const
    {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(
                c(), xcb_get_property(c(), 0, window == 0 ? root_ : window, atom(name), XCB_ATOM_CARDINAL, 0, 64),
                nullptr),
            &std::free);
        if (!reply || reply->format != 32) {
            return {};
        }
        const auto* values = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
        return std::vector<quint32>(values, values + xcb_get_property_value_length(reply.get()) / 4);
    }

    /// The largest viewable, managed window of process `pid` and where it is on the root window.
    std::optional<std::pair<xcb_window_t, QRect>> largestWindowOf(qint64 pid) const
    {
        std::optional<std::pair<xcb_window_t, QRect>> found;
        forEachWindow(root_, [&](xcb_window_t window) {
            std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
                xcb_get_window_attributes_reply(c(), xcb_get_window_attributes(c(), window), nullptr), &std::free);
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || attributes->override_redirect) {
                return;
            }
            const std::vector<quint32> windowPid = cardinals(window, "_NET_WM_PID");
            if (windowPid.empty() || windowPid[0] != pid) {
                return;
            }
            const QRect geometry = geometryOf(window);
            if (!found || geometry.width() * geometry.height() > found->second.width() * found->second.height()) {
                found = std::make_pair(window, geometry);
            }
        });
        return found;
    }

    QImage grab(const QRect& rect) const { return testing::grabRootImage(c(), root_, rect); }

private:
    xcb_connection_t* c() const { return connection_.get(); }

    xcb_atom_t atom(const char* name) const
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c(), xcb_intern_atom(c(), 0, std::strlen(name), name), nullptr), &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    QRect geometryOf(xcb_window_t window) const
    {
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
            xcb_get_geometry_reply(c(), xcb_get_geometry(c(), window), nullptr), &std::free);
        std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> origin(
            xcb_translate_coordinates_reply(c(), xcb_translate_coordinates(c(), window, root_, 0, 0), nullptr),
            &std::free);
        return geometry && origin ? QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height) : QRect();
    }

    template <typename Visit> void forEachWindow(xcb_window_t parent, const Visit& visit) const
    {
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(c(), xcb_query_tree(c(), parent), nullptr), &std::free);
        if (!tree) {
            return;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            visit(children[i]);
            forEachWindow(children[i], visit);
        }
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_;
    xcb_window_t root_ = 0;
};

class WindowFitOnDesktopTest : public ::testing::TestWithParam<std::pair<QSize, int>> {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty()) {
            GTEST_SKIP() << "no private desktop: Xvfb, openbox and trayer are needed (scripts/install-deps)";
        }
        // A key is stored, so that no alert covers the window; the library is empty: a first launch.
        ASSERT_NO_FATAL_FAILURE(
            testing::prepareProgramSandbox(sandbox_, QStringLiteral("sk-window-fit"), {"pictures"}));
        ASSERT_NO_FATAL_FAILURE(startDesktop(GetParam().first));
    }

    void startDesktop(QSize size)
    {
        xvfb_.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()), QStringLiteral("-nolisten"),
                     QStringLiteral("tcp")});
        ASSERT_TRUE(waitUntil([&] {
            xvfb_.waitForReadyRead(100);
            return xvfb_.canReadLine() || xvfb_.state() == QProcess::NotRunning;
        }));
        const QString number = QString::fromLatin1(xvfb_.readLine()).trimmed();
        ASSERT_FALSE(number.isEmpty()) << "Xvfb did not come up";
        display_ = QStringLiteral(":") + number;
        x_ = std::make_unique<Display>(display_);
        ASSERT_TRUE(x_->connected());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display_);
        for (QProcess* process : {static_cast<QProcess*>(&windowManager_), static_cast<QProcess*>(&tray_)}) {
            process->setProcessEnvironment(environment);
            process->setStandardOutputFile(QProcess::nullDevice());
            process->setStandardErrorFile(QProcess::nullDevice());
        }
        windowManager_.start(QStringLiteral("openbox"), {});
        ASSERT_TRUE(waitUntil([&] { return x_->selectionOwned("WM_S0"); })) << "openbox did not take the display";
        tray_.start(QStringLiteral("trayer"), {});
        ASSERT_TRUE(waitUntil([&] { return x_->selectionOwned("_NET_SYSTEM_TRAY_S0"); }))
            << "trayer did not take the system tray";
        ASSERT_TRUE(waitUntil([&] { return x_->cardinals(0, "_NET_WORKAREA").size() >= 4; }))
            << "the window manager reports no work area";
    }

    /// Starts the program (or a second launch of it) with `arguments` on the private desktop.
    void launch(DesktopProcess& process, const QStringList& arguments)
    {
        QProcessEnvironment environment = testing::programEnvironment(sandbox_);
        environment.insert(QStringLiteral("DISPLAY"), display_);
        environment.remove(QStringLiteral("QT_SCALE_FACTOR"));
        if (GetParam().second != 1) {
            environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(GetParam().second));
        }
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(LUMETROVE_PROGRAM), arguments);
        ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    }

    /// The main window's frame (its window with the frame the window manager reports around it), once shown.
    std::optional<QRect> mainWindowFrame() const
    {
        const auto window = x_->largestWindowOf(program_.processId());
        if (!window || window->second.width() < 400) {
            return std::nullopt;
        }
        const std::vector<quint32> extents = x_->cardinals(window->first, "_NET_FRAME_EXTENTS");
        if (extents.size() < 4) {
            return std::nullopt;
        }
        return window->second.adjusted(-int(extents[0]), -int(extents[2]), int(extents[1]), int(extents[3]));
    }

    QRect workArea() const
    {
        const std::vector<quint32> area = x_->cardinals(0, "_NET_WORKAREA");
        return area.size() >= 4 ? QRect(int(area[0]), int(area[1]), int(area[2]), int(area[3])) : QRect();
    }

    /// Waits for the main window, then until its frame lies inside the work area; fails saying where it is if
    /// it does not.
    void expectWindowInsideScreen(const char* when)
    {
        std::optional<QRect> frame;
        ASSERT_TRUE(waitUntil([&] { return (frame = mainWindowFrame()).has_value(); })) << when << ": no window";
        const bool inside = waitUntil(
            [&] {
                frame = mainWindowFrame();
                return frame && workArea().contains(*frame);
            },
            20000);
        const QRect area = workArea();
        EXPECT_TRUE(inside) << when << ": the window's frame " << frame->x() << "," << frame->y() << " "
                            << frame->width() << "x" << frame->height() << " is not inside the work area " << area.x()
                            << "," << area.y() << " " << area.width() << "x" << area.height();
    }

    /// The count the sidebar shows beside `label`, read from the screen; none where no number stands there.
    /// The label and its count may be read as words of one line or of two columns: the count is the number
    /// level with the label, after it.
    static std::optional<int> countBeside(const RecognizedText& text, const QString& label)
    {
        std::vector<RecognizedWord> words;
        for (const RecognizedLine& line : text.lines) {
            words.insert(words.end(), line.words.begin(), line.words.end());
        }
        static const QRegularExpression digits(QStringLiteral("^\\d+$"));
        for (const RecognizedWord& word : words) {
            if (word.text != label) {
                continue;
            }
            for (const RecognizedWord& count : words) {
                const double middle = count.boundingBox.center().y();
                if (count.boundingBox.left() > word.boundingBox.right() && middle > word.boundingBox.top() &&
                    middle < word.boundingBox.bottom() && digits.match(count.text).hasMatch()) {
                    return count.text.toInt();
                }
            }
        }
        return std::nullopt;
    }

    /// Pictures a user would open with the program.
    QStringList pictures() const
    {
        QStringList paths;
        for (int i = 1; i <= 3; ++i) {
            QImage image(640, 400, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.drawText(QRect(20, 20, 600, 40), Qt::AlignLeft, QStringLiteral("Picture %1").arg(i));
            painter.end();
            const QString path = sandbox_.filePath(QStringLiteral("pictures/picture-%1.png").arg(i));
            image.save(path);
            paths << path;
        }
        return paths;
    }

    QTemporaryDir sandbox_;
    DesktopProcess xvfb_;
    DesktopProcess windowManager_;
    DesktopProcess tray_;
    QString display_;
    std::unique_ptr<Display> x_;
    DesktopProcess program_;
};

TEST_P(WindowFitOnDesktopTest, TheWindowStaysInsideTheScreenAndTheSidebarShowsEveryCount)
{
    // A first launch on an empty library: the first-launch hint asks for the largest window.
    launch(program_, {});
    expectWindowInsideScreen("on a first launch");

    // Three pictures opened with the program: the running copy imports them.
    DesktopProcess secondLaunch;
    launch(secondLaunch, pictures());
    ASSERT_TRUE(secondLaunch.waitForFinished(stepTimeoutMs));
    expectWindowInsideScreen("after an import");

    // Every sidebar row shows its count at the row's end: 3 today, none yesterday or last week.
    const int scale = GetParam().second;
    std::optional<int> today, yesterday, lastWeek;
    const std::shared_ptr<TextRecognizer> recognizer = makeTesseractTextRecognizer();
    const bool shown = waitUntil([&] {
        const std::optional<QRect> frame = mainWindowFrame();
        if (!frame) {
            return false;
        }
        // The sidebar, at most 360 wide, with a little of the list beside it: the list has numbers of its own.
        const QRect window = frame->intersected(workArea());
        const QImage image =
            x_->grab(QRect(window.topLeft(), QSize(std::min(window.width(), 380 * scale), window.height())));
        const RecognizedText text = recognizer->recognize(image);
        today = countBeside(text, QStringLiteral("Today"));
        yesterday = countBeside(text, QStringLiteral("Yesterday"));
        lastWeek = countBeside(text, QStringLiteral("Week"));
        return today == 3 && yesterday == 0 && lastWeek == 0;
    });
    EXPECT_TRUE(shown) << "counts read beside Today, Yesterday and Last Week: " << today.value_or(-1) << ", "
                       << yesterday.value_or(-1) << ", " << lastWeek.value_or(-1) << " (-1: none)";
}

INSTANTIATE_TEST_SUITE_P(OrdinaryScreens, WindowFitOnDesktopTest,
                         ::testing::Values(std::make_pair(QSize(1280, 800), 1), std::make_pair(QSize(2560, 1440), 2)),
                         [](const auto& info) { return info.param.second == 1 ? "At1280x800" : "At2560x1440Scale2"; });

} // namespace
} // namespace lumetrove
