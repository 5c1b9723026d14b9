#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/WidgetCaptureMainWindow.h"
#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/WindowList.h"
#include "tests/lumetrove/LibraryCapture.h"
#include "tests/lumetrove/PointerWatch.h"
#include "tests/lumetrove/Sandbox.h"
#include "tests/lumetrove/x11/DesktopSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace lumetrove {
namespace {

using testing::LibraryCapture;
using testing::processEventsUntil;

// Every step waits generously: the tests run under the sanitizers.
constexpr int stepTimeoutMs = 20000;

/// Runs xdotool with `arguments` while the event loop goes on.
bool xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return processEventsUntil([&] { return process.state() == QProcess::NotRunning; }, stepTimeoutMs) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

class CaptureOnDesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            GTEST_SKIP() << "no X display: the desktop tests start one with Xvfb";
        }
        // The desktop is two screens side by side, each 800 wide.
        const QList<QScreen*> screens = QGuiApplication::screens();
        ASSERT_EQ(screens.size(), 2);
        ASSERT_EQ(screens[0]->geometry(), QRect(0, 0, 800, 1000));
        ASSERT_EQ(screens[1]->geometry(), QRect(800, 0, 800, 1000));
    }

    void TearDown() override
    {
        if (window_.state() != QProcess::NotRunning) {
            window_.kill();
            window_.waitForFinished();
        }
    }

    /// Starts the text window of another application with its top-left corner at (x, y).
    void openTextWindow(int x, int y)
    {
        window_.start(QStringLiteral(LUMETROVE_TEST_WINDOW_PROGRAM), {QString::number(x), QString::number(y)});
        ASSERT_TRUE(processEventsUntil([&] { return window_.canReadLine(); }, stepTimeoutMs))
            << "the text window did not start";
        ASSERT_TRUE(processEventsUntil(
            [&] {
                for (const WindowRecord& record : readWindowStack().frontToBack) {
                    if (record.pid == window_.processId()) {
                        return true;
                    }
                }
                return false;
            },
            stepTimeoutMs))
            << "the window manager did not list the text window";
    }

    /// Captures a drag from `from` to `to` (global coordinates) into `library`, checking on the way that
    /// an overlay covers every screen; `whileOpen` runs once the overlays are shown, `beforeRelease` once the
    /// pointer has reached `to` with its button still down. The capture's outcome.
    CaptureResult captureDrag(ScreenshotsListManager& library, QPoint from, QPoint to,
                              const std::function<void()>& whileOpen = {},
                              const std::function<void()>& beforeRelease = {})
    {
        LibraryCapture capture(library);
        EXPECT_TRUE(processEventsUntil(LibraryCapture::overlaysShown, stepTimeoutMs)) << "the overlays did not open";
        if (whileOpen) {
            whileOpen();
        }
        const QList<QPointer<QWidget>>& overlays = LibraryCapture::windows();
        for (QScreen* screen : QGuiApplication::screens()) {
            EXPECT_TRUE(std::any_of(
                overlays.begin(), overlays.end(),
                [&](const QPointer<QWidget>& overlay) { return overlay && overlay->geometry() == screen->geometry(); }))
                << "no overlay covers " << screen->name().toStdString();
        }
        // The drag starts only once the overlays have the pointer (one that grabs it gets every move): a press
        // that came before would go to the window below.
        std::vector<std::unique_ptr<testing::PointerWatch>> watches;
        for (const QPointer<QWidget>& overlay : overlays) {
            watches.push_back(std::make_unique<testing::PointerWatch>(overlay ? overlay->windowHandle() : nullptr));
        }
        EXPECT_TRUE(testing::pointAt(
            from,
            [](QPoint at) {
                return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
            },
            [&] {
                return std::any_of(watches.begin(), watches.end(), [](const auto& watch) { return watch->reached(); });
            },
            stepTimeoutMs))
            << "the overlays never took the pointer";
        const QPoint middle = (from + to) / 2;
        EXPECT_TRUE(xdotool({QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
                             QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"),
                             QString::number(middle.x()), QString::number(middle.y()), QStringLiteral("mousemove"),
                             QString::number(to.x()), QString::number(to.y())}));
        if (beforeRelease) {
            beforeRelease();
        }
        EXPECT_TRUE(xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
        EXPECT_TRUE(processEventsUntil([&] { return capture.finished(); }, stepTimeoutMs))
            << "the capture never finished";
        return capture.outcome();
    }

    /// The newest row holds the text window's words (once they are recognised), its application and a PNG
    /// of `size` in Screenshots/.
    static void expectTextWindowCaptured(const ScreenshotsListManager& library, QSize size)
    {
        ASSERT_FALSE(library.screenshots().isEmpty());
        const ScreenshotPtr screenshot = library.screenshots().front();
        ASSERT_TRUE(processEventsUntil(
            [&] {
                screenshot->loadDetails(); // the list reads only the start of the text
                return !screenshot->text().value_or(QString()).isEmpty();
            },
            stepTimeoutMs))
            << "the recognised text never reached the row";
        EXPECT_TRUE(screenshot->text()->contains(QStringLiteral("Quarterly budget review")))
            << screenshot->text()->toStdString();
        EXPECT_TRUE(screenshot->text()->contains(QStringLiteral("invoice archive")))
            << screenshot->text()->toStdString();
        EXPECT_EQ(screenshot->capturedAppName(), QStringLiteral("Ledger"));
        ASSERT_TRUE(screenshot->imageUrl());
        const QString path = screenshot->imageUrl()->toLocalFile();
        EXPECT_EQ(QFileInfo(path).absolutePath(), *screenshotsDirectory());
        EXPECT_EQ(QImage(path).size(), size);
    }

    QProcess window_;
};

TEST_F(CaptureOnDesktopTest, ADragOnTheSecondScreenOverAnotherApplicationsWindowLandsInTheLibrary)
{
    ScreenshotsListManager library(ScreenshotsDB::shared());
    ASSERT_TRUE(processEventsUntil([&] { return library.listLoaded(); }, stepTimeoutMs));
    const qsizetype before = library.screenshots().size();
    openTextWindow(900, 200);
    // From inside the window's frame, so the window under the mouse is the text window.
    ASSERT_EQ(captureDrag(library, QPoint(910, 215), QPoint(1345, 360)), CaptureResult::success);
    ASSERT_EQ(library.screenshots().size(), before + 1);
    expectTextWindowCaptured(library, QSize(435, 145));
}

TEST_F(CaptureOnDesktopTest, ADragAcrossBothScreensGrabsEachScreensPart)
{
    ScreenshotsListManager library(ScreenshotsDB::shared());
    ASSERT_TRUE(processEventsUntil([&] { return library.listLoaded(); }, stepTimeoutMs));
    const qsizetype before = library.screenshots().size();
    // The window straddles the edge between the screens; its first line runs across it.
    openTextWindow(660, 200);
    ASSERT_EQ(captureDrag(library, QPoint(670, 215), QPoint(1105, 360)), CaptureResult::success);
    ASSERT_EQ(library.screenshots().size(), before + 1);
    expectTextWindowCaptured(library, QSize(435, 145));
}

TEST_F(CaptureOnDesktopTest, ASelectionDraggedAcrossBothScreensIsDrawnOnEachScreensOverlay)
{
    ScreenshotsListManager library(ScreenshotsDB::shared());
    ASSERT_TRUE(processEventsUntil([&] { return library.listLoaded(); }, stepTimeoutMs));
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_TRUE(x11);
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // The selection runs from (600, 300) on the left screen to (1000, 500) on the right one; its frame is white.
    const auto whiteFrameOn = [&](const QRect& line) {
        const QImage shown = testing::grabRootImage(connection, root, line);
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                if (shown.pixel(x, y) != qRgb(255, 255, 255)) {
                    return false;
                }
            }
        }
        return !shown.isNull();
    };
    const QRect rightEdge(1000, 320, 1, 160);
    const QRect topEdgeOnTheRight(820, 300, 160, 1);
    const QRect topEdgeOnTheLeft(620, 300, 160, 1);
    bool whiteBefore = true;
    const auto beforeDrag = [&] { whiteBefore = whiteFrameOn(rightEdge) || whiteFrameOn(topEdgeOnTheRight); };
    const auto whileDragging = [&] {
        EXPECT_TRUE(processEventsUntil([&] { return whiteFrameOn(rightEdge) && whiteFrameOn(topEdgeOnTheRight); },
                                       stepTimeoutMs))
            << "the right screen's overlay does not draw its part of the selection";
        EXPECT_TRUE(whiteFrameOn(topEdgeOnTheLeft)) << "the left screen's overlay does not draw its part";
    };
    ASSERT_EQ(captureDrag(library, QPoint(600, 300), QPoint(1000, 500), beforeDrag, whileDragging),
              CaptureResult::success);
    EXPECT_FALSE(whiteBefore) << "the desktop was white where the frame is looked for";
}

TEST_F(CaptureOnDesktopTest, AWindowThatChangesWhileTheOverlaysAreOpenIsSavedAsItWasWhenTheyOpened)
{
    ScreenshotsListManager library(ScreenshotsDB::shared());
    ASSERT_TRUE(processEventsUntil([&] { return library.listLoaded(); }, stepTimeoutMs));
    openTextWindow(900, 200);
    // The window turns red below the overlays; once they close it shows red on the screen.
    const auto turnRed = [&] {
        window_.write("red\n");
        EXPECT_TRUE(processEventsUntil([&] { return window_.canReadLine() && window_.readLine() == "changed\n"; },
                                       stepTimeoutMs))
            << "the text window did not change";
    };
    ASSERT_EQ(captureDrag(library, QPoint(910, 215), QPoint(1345, 360), turnRed), CaptureResult::success);
    expectTextWindowCaptured(library, QSize(435, 145));
    const QImage saved(library.screenshots().front()->imageUrl()->toLocalFile());
    int red = 0;
    for (int y = 0; y < saved.height(); ++y) {
        for (int x = 0; x < saved.width(); ++x) {
            red += saved.pixelColor(x, y) == QColor(Qt::red) ? 1 : 0;
        }
    }
    EXPECT_EQ(red, 0) << "the area was read after the overlays opened";
}

TEST(MainWindowOnDesktopTest, HiddenForACaptureAndShownAgainTheWindowComesBackWhereTheUserPutIt)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        GTEST_SKIP() << "no X display: the desktop tests start one with Xvfb";
    }
    QWidget widget;
    widget.setWindowTitle(QStringLiteral("Screenshots"));
    widget.resize(400, 300);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));

    // The user moves the window to the second screen: the window manager is asked as a pager asks it, for the
    // window's client area at a place of the user's.
    const QRect placed(QPoint(950, 230), widget.size());
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(xcb_connect(nullptr, nullptr),
                                                                            xcb_disconnect);
    ASSERT_EQ(xcb_connection_has_error(connection.get()), 0);
    const char* name = "_NET_MOVERESIZE_WINDOW";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection.get(), xcb_intern_atom(connection.get(), 0, std::strlen(name), name), nullptr),
        &std::free);
    ASSERT_TRUE(atom);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(widget.winId());
    message.type = atom->atom;
    // Static gravity (the client area's corner), x and y given, asked for by the user (source 2).
    message.data.data32[0] = XCB_GRAVITY_STATIC | (1u << 8) | (1u << 9) | (2u << 12);
    message.data.data32[1] = static_cast<quint32>(placed.x());
    message.data.data32[2] = static_cast<quint32>(placed.y());
    xcb_send_event(connection.get(), 0, xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection.get());
    ASSERT_TRUE(processEventsUntil([&] { return widget.geometry() == placed; }, stepTimeoutMs))
        << "the window manager did not move the window";

    // A capture hides the window and shows it again; a window mapped anew is placed by the window manager on
    // its primary screen unless it says where it goes.
    WidgetCaptureMainWindow window(&widget);
    window.hide();
    ASSERT_TRUE(processEventsUntil([&] { return !widget.windowHandle()->isExposed(); }, stepTimeoutMs));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    EXPECT_TRUE(processEventsUntil([&] { return widget.geometry() == placed; }, stepTimeoutMs))
        << "the window came back at " << widget.geometry().x() << "," << widget.geometry().y();
    EXPECT_EQ(widget.screen(), QGuiApplication::screens().at(1));
}

TEST(ScreenRecordingOnDesktopTest, TheX11SessionGrantsIt)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        GTEST_SKIP() << "no X display: the desktop tests start one with Xvfb";
    }
    // The first-launch hint and the API-key alert at launch wait for this answer, which comes from the X11
    // session itself (it lets every client read the screen), not from whether another program's window can be
    // read: a bare desktop must not withhold them.
    EXPECT_TRUE(sharedCaptureService().screenRecordingGranted());
}

} // namespace
} // namespace lumetrove
