#include "lumetrove/app/WidgetCaptureMainWindow.h"
#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/ScreenCaptureOverlays.h"
#include "lumetrove/captureui/ScreenCapturePermissions.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/PortalScreenshot.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "tests/lumetrove/FakePortal.h"
#include "tests/lumetrove/LibraryCapture.h"
#include "tests/lumetrove/wayland/WaylandDesktop.h"

#include <QDebug>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QWindow>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

using namespace lumetrove::testing;

const QString wideOutput = QStringLiteral("HEADLESS-1");
const QString sharpOutput = QStringLiteral("HEADLESS-2");

/// The files in the screenshots directory.
QStringList screenshotFiles()
{
    return QDir(*screenshotsDirectory()).entryList(QDir::Files);
}

class CaptureOnWaylandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
        // The desktop: a 1920 x 1080 output at scale 1, and beside it a 1280 x 800 one at scale 2.
        const QList<QScreen*> screens = QGuiApplication::screens();
        ASSERT_EQ(screens.size(), 2);
        const auto sorted =
            screens[0]->geometry().x() < screens[1]->geometry().x() ? screens : QList{screens[1], screens[0]};
        ASSERT_EQ(sorted[0]->geometry(), QRect(0, 0, 1920, 1080));
        ASSERT_EQ(sorted[1]->geometry(), QRect(1920, 0, 640, 400));
        ASSERT_EQ(sorted[1]->devicePixelRatio(), 2.0);
    }

    /// Waits for the capture under way to show its overlays, checking that sway shows one full screen on each
    /// output and no other window of the program.
    static void expectAnOverlayOnEachOutput()
    {
        EXPECT_TRUE(processEventsUntil(LibraryCapture::overlaysShown, waylandStepTimeoutMs))
            << "the overlays did not open";
        std::vector<SwayView> overlays;
        processEventsUntil(
            [&] {
                overlays = swayViewsOf(QCoreApplication::applicationPid());
                return overlays.size() == 2 && std::all_of(overlays.begin(), overlays.end(),
                                                           [](const SwayView& view) { return view.fullScreen; });
            },
            waylandStepTimeoutMs);
        EXPECT_EQ(overlays.size(), 2u);
        QStringList outputs;
        for (const SwayView& view : overlays) {
            EXPECT_TRUE(view.fullScreen) << view.output.toStdString();
            outputs << view.output;
        }
        outputs.sort();
        EXPECT_EQ(outputs.join(u' ').toStdString(), (wideOutput + u' ' + sharpOutput).toStdString());
    }

    /// Moves the test pointer to `point` until the overlay there has it: a press that came before would go to
    /// the window below, and the capture would wait for a selection that never comes.
    static bool pointAtOverlay(QPoint point)
    {
        std::unique_ptr<PointerWatch> watch;
        for (const QPointer<QWidget>& overlay : LibraryCapture::windows()) {
            if (overlay && overlay->screen()->geometry().contains(point)) {
                watch = std::make_unique<PointerWatch>(overlay->windowHandle());
            }
        }
        return pointAt(point, [&] { return watch && watch->reached(); });
    }

    /// Captures a drag from `from` to `to` (layout coordinates) into `library`, checking on the way that a
    /// full-screen overlay covers every output; the capture's outcome.
    CaptureResult captureDrag(ScreenshotsListManager& library, QPoint from, QPoint to)
    {
        LibraryCapture capture(library, [](const CapturedScreenshotInfo& info) {
            EXPECT_TRUE(info.windowDetails);
            if (info.windowDetails) {
                // Wayland names no other program's window.
                EXPECT_FALSE(info.windowDetails->applicationName);
                EXPECT_FALSE(info.windowDetails->applicationOwnerPID);
            }
        });
        expectAnOverlayOnEachOutput();
        EXPECT_TRUE(pointAtOverlay(from)) << "the overlay never took the pointer";
        EXPECT_TRUE(drag(from, to)) << "the test pointer failed";
        EXPECT_TRUE(processEventsUntil([&] { return capture.finished(); }, waylandStepTimeoutMs))
            << "the capture never finished";
        return capture.outcome();
    }

    /// The whole desktop as the portal shows it now.
    static QImage portalImage()
    {
        std::optional<PortalScreenshotOutcome> outcome;
        QObject context;
        PortalScreenshotRequest::take(QDBusConnection::sessionBus(), &context,
                                      [&](const PortalScreenshotOutcome& answer) { outcome = answer; });
        processEventsUntil([&] { return outcome.has_value(); }, waylandStepTimeoutMs);
        return outcome && outcome->status == PortalScreenshotOutcome::Status::taken
                   ? outcome->image.convertToFormat(QImage::Format_RGB32)
                   : QImage();
    }
};

TEST_F(CaptureOnWaylandTest, ACaptureOverAWindowOnTheScaleTwoOutputLandsInTheLibraryWithItsText)
{
    ScreenshotsListManager library(ScreenshotsDB::shared());
    ASSERT_TRUE(processEventsUntil([&] { return library.listLoaded(); }));
    TextWindow window;
    const std::optional<QRect> rect = window.openOn(sharpOutput);
    ASSERT_TRUE(rect) << "the text window did not come up";
    ASSERT_EQ(rect->topLeft(), QPoint(1920, 0));
    const qsizetype before = library.screenshots().size();

    ASSERT_EQ(captureDrag(library, rect->topLeft() + QPoint(10, 20), rect->topLeft() + QPoint(370, 130)),
              CaptureResult::success);
    ASSERT_EQ(library.screenshots().size(), before + 1);
    const ScreenshotPtr screenshot = library.screenshots().front();
    ASSERT_TRUE(processEventsUntil(
        [&] {
            screenshot->loadDetails(); // the list reads only the start of the text
            return !screenshot->text().value_or(QString()).isEmpty();
        },
        waylandStepTimeoutMs))
        << "the recognised text never reached the row";
    EXPECT_TRUE(screenshot->text()->contains(QStringLiteral("Quarterly budget review")))
        << screenshot->text()->toStdString();
    EXPECT_TRUE(screenshot->text()->contains(QStringLiteral("invoice archive"))) << screenshot->text()->toStdString();
    EXPECT_TRUE(screenshot->capturedAppName().value_or(QString()).isEmpty());
    ASSERT_TRUE(screenshot->imageUrl());
    // The output's own pixels: two per logical unit.
    EXPECT_EQ(QImage(screenshot->imageUrl()->toLocalFile()).size(), QSize(720, 220));
}

TEST_F(CaptureOnWaylandTest, TheMainWindowComesBackOnItsOwnOutputAtItsSizeAndEscapeStillEndsACapture)
{
    ScreenshotsListManager library(ScreenshotsDB::shared());
    ASSERT_TRUE(processEventsUntil([&] { return library.listLoaded(); }));
    // The main window, on the wide output, where the user works with it.
    ASSERT_TRUE(runProgram(QStringLiteral("swaymsg"), {QStringLiteral("focus"), QStringLiteral("output"), wideOutput}));
    const QString title = QStringLiteral("Screenshots");
    QWidget mainWindow;
    mainWindow.setWindowTitle(title);
    mainWindow.setMinimumSize(900, 600);
    mainWindow.show();
    const std::optional<SwayView> before = windowNamed(QCoreApplication::applicationPid(), title);
    ASSERT_TRUE(before) << "the main window did not come up";
    ASSERT_EQ(before->output, wideOutput);
    ScreenshotCapture::shared().setMainWindow(std::make_shared<WidgetCaptureMainWindow>(&mainWindow));
    const auto forget = qScopeGuard([] { ScreenshotCapture::shared().setMainWindow(nullptr); });
    // Sway gives a window the keyboard on request only when told to; by default it only marks the window.
    ASSERT_TRUE(
        runProgram(QStringLiteral("swaymsg"), {QStringLiteral("focus_on_window_activation"), QStringLiteral("smart")}));
    // Back where it was, on its own output and at its size, not laid out anew where the keyboard is, and
    // with the keyboard.
    const auto expectBack = [&] {
        std::optional<SwayView> after;
        EXPECT_TRUE(processEventsUntil(
            [&] {
                after.reset();
                for (const SwayView& view : swayViewsOf(QCoreApplication::applicationPid())) {
                    if (view.name == title && !view.fullScreen) {
                        after = view;
                    }
                }
                return after && after->output == before->output && after->rect == before->rect && after->focused &&
                       mainWindow.windowState() == Qt::WindowNoState;
            },
            waylandStepTimeoutMs))
            << "the main window is " << (after ? after->output.toStdString() : std::string("nowhere")) << " "
            << (after ? QDebug::toString(after->rect).toStdString() : std::string())
            << (after && !after->focused ? " without the keyboard " : " ")
            << QDebug::toString(mainWindow.windowState()).toStdString();
        return after;
    };

    // A capture made with a drag on the other output, too small for the window: the drag gives that output
    // the keyboard.
    ASSERT_TRUE(focus(*before));
    ASSERT_EQ(captureDrag(library, QPoint(1920 + 40, 40), QPoint(1920 + 300, 200)), CaptureResult::success);
    const std::optional<SwayView> back = expectBack();
    ASSERT_TRUE(back);

    // A capture started from the window: the overlay over it has the keyboard, and Escape ends the capture.
    ASSERT_TRUE(focus(*back));
    {
        LibraryCapture capture(library);
        expectAnOverlayOnEachOutput();
        ASSERT_TRUE(press({QStringLiteral("-k"), QStringLiteral("Escape")}));
        EXPECT_TRUE(processEventsUntil([&] { return capture.finished(); }, waylandStepTimeoutMs))
            << "Escape did not end the capture";
        EXPECT_EQ(capture.outcome(), CaptureResult::cancelled);
    }
    const std::optional<SwayView> again = expectBack();
    ASSERT_TRUE(again);

    // A click on the other output ends a capture too, with the keyboard there.
    ASSERT_TRUE(focus(*again));
    {
        LibraryCapture capture(library);
        expectAnOverlayOnEachOutput();
        ASSERT_TRUE(pointAtOverlay(QPoint(1920 + 100, 100))) << "the overlay never took the pointer";
        ASSERT_TRUE(movePointer({QStringLiteral("press"), QStringLiteral("release")}));
        EXPECT_TRUE(processEventsUntil([&] { return capture.finished(); }, waylandStepTimeoutMs))
            << "the click did not end the capture";
        EXPECT_EQ(capture.outcome(), CaptureResult::cancelled);
    }
    expectBack();
}

TEST_F(CaptureOnWaylandTest, ADragAcrossBothOutputsGrabsEachOutputsPartAtItsOwnScale)
{
    ScreenshotsListManager library(ScreenshotsDB::shared());
    ASSERT_TRUE(processEventsUntil([&] { return library.listLoaded(); }));
    TextWindow left;
    TextWindow right;
    ASSERT_TRUE(left.openOn(wideOutput));
    ASSERT_TRUE(right.openOn(sharpOutput));
    const qsizetype before = library.screenshots().size();

    // From the left output's text across the edge into the right one's.
    const QRect selection(QPoint(20, 40), QPoint(2099, 149));
    ASSERT_EQ(captureDrag(library, selection.topLeft(), selection.bottomRight() + QPoint(1, 1)),
              CaptureResult::success);
    ASSERT_EQ(library.screenshots().size(), before + 1);
    ASSERT_TRUE(library.screenshots().front()->imageUrl());
    const QImage captured =
        QImage(library.screenshots().front()->imageUrl()->toLocalFile()).convertToFormat(QImage::Format_RGB32);

    // The desktop has not changed since: the portal shows it again, at scale 2 everywhere.
    const QImage desktop = portalImage();
    ASSERT_EQ(desktop.size(), QSize(5120, 2160));
    const QImage expected = desktop.copy(QRect(selection.topLeft() * 2, selection.size() * 2));
    ASSERT_EQ(captured.size(), expected.size());
    // Each output's part, pixel for pixel: the scale-2 output's own pixels, the scale-1 output's enlarged. The
    // portal enlarges the scale-1 output with a filter whose outermost column blends in whatever lies beyond
    // the output, which differs from one screenshot to the next: that one column is left out.
    for (const QRect& part : {QRect(0, 0, (1920 - 20) * 2 - 1, expected.height()),
                              QRect((1920 - 20) * 2, 0, expected.width() - (1920 - 20) * 2, expected.height())}) {
        SCOPED_TRACE(part.x());
        qsizetype different = 0;
        QPoint first(-1, -1);
        for (int y = part.top(); y <= part.bottom(); ++y) {
            for (int x = part.left(); x <= part.right(); ++x) {
                if (captured.pixel(x, y) != expected.pixel(x, y)) {
                    first = different++ == 0 ? QPoint(x, y) : first;
                }
            }
        }
        EXPECT_EQ(different, 0) << "first at " << first.x() << ", " << first.y() << ": " << std::hex
                                << (first.x() < 0 ? 0 : captured.pixel(first)) << " instead of "
                                << (first.x() < 0 ? 0 : expected.pixel(first)) << " beside "
                                << (first.x() < 1 ? 0 : expected.pixel(first - QPoint(1, 0))) << " and "
                                << (first.x() < 0 ? 0 : expected.pixel(first + QPoint(1, 0)));
    }
    // Both outputs' text windows are in it, white in their margins, on either side of the edge.
    EXPECT_EQ(captured.pixel(10, 2), qRgb(255, 255, 255));
    EXPECT_EQ(captured.pixel((1920 - 20) * 2 + 4, 2), qRgb(255, 255, 255));
}

/// Where the mapped windows of process `pid` on the X11 display `display` are.
std::vector<QRect> xWindowsOf(const QString& display, qint64 pid)
{
    std::vector<QRect> windows;
    const std::optional<QByteArray> found =
        runProgram(QStringLiteral("env"),
                   {QStringLiteral("DISPLAY=") + display, QStringLiteral("xdotool"), QStringLiteral("search"),
                    QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid), QString(),
                    QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QStringLiteral("%@")});
    QRect window;
    for (const QByteArray& line : found.value_or(QByteArray()).split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() != 2) {
            continue;
        }
        const int value = pair[1].toInt();
        if (pair[0] == "X") {
            window.moveLeft(value);
        } else if (pair[0] == "Y") {
            window.moveTop(value);
        } else if (pair[0] == "WIDTH") {
            window.setWidth(value);
        } else if (pair[0] == "HEIGHT") {
            window.setHeight(value);
            windows.push_back(window);
            window = QRect();
        }
    }
    return windows;
}

/// The values of xdotool's `--shell` output.
QMap<QByteArray, int> shellValues(const std::optional<QByteArray>& output)
{
    QMap<QByteArray, int> values;
    for (const QByteArray& line : output.value_or(QByteArray()).split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() == 2) {
            values.insert(pair[0], pair[1].toInt());
        }
    }
    return values;
}

/// Whether XWayland, on the X11 display `display`, has its pointer within a unit of `point`: it learns where the
/// pointer is only while the compositor has the pointer over one of its windows.
bool xPointerAt(const QString& display, QPoint point)
{
    const QMap<QByteArray, int> pointer =
        shellValues(runProgram(QStringLiteral("env"), {QStringLiteral("DISPLAY=") + display, QStringLiteral("xdotool"),
                                                       QStringLiteral("getmouselocation"), QStringLiteral("--shell")}));
    return pointer.contains("X") && std::abs(pointer.value("X") - point.x()) <= 1 && pointer.value("Y") == point.y();
}

TEST_F(CaptureOnWaylandTest, AProgramRunningThroughXWaylandCapturesThroughThePortal)
{
    // The X11 display XWayland serves on this Wayland desktop: a program on it may read no other program's
    // pixels but its own, so a grab of the X11 screen would see none of the text window.
    const QString display = qEnvironmentVariable("LUMETROVE_WAYLAND_XDISPLAY");
    ASSERT_FALSE(display.isEmpty()) << "the desktop has no XWayland";
    TextWindow window;
    const std::optional<QRect> rect = window.openOn(sharpOutput);
    ASSERT_TRUE(rect) << "the text window did not come up";
    ASSERT_EQ(rect->topLeft(), QPoint(1920, 0));

    // The program on the X11 display, in a Wayland session; its window opens on the other output.
    QTemporaryDir sandbox;
    ASSERT_NO_FATAL_FAILURE(prepareProgramSandbox(sandbox, QStringLiteral("sk-xwayland-test")));
    QProcessEnvironment environment = programEnvironment(sandbox);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), display);
    ASSERT_TRUE(runProgram(QStringLiteral("swaymsg"), {QStringLiteral("focus"), QStringLiteral("output"), wideOutput}));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(LUMETROVE_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted());
    const auto stop = qScopeGuard([&] {
        program.kill();
        program.waitForFinished();
    });
    const std::optional<SwayView> main = windowNamed(program.processId(), QStringLiteral("Screenshots"));
    ASSERT_TRUE(main) << "the main window did not come up";
    ASSERT_EQ(main->output, wideOutput);

    // The desktop as the capture will see it: the text window painted at its place, the pointer where the drag
    // starts.
    const QRect selection(rect->topLeft() + QPoint(10, 20), QSize(360, 110));
    ASSERT_TRUE(focus(*main));
    ASSERT_TRUE(
        movePointer({QStringLiteral("move"), QString::number(selection.left()), QString::number(selection.top())}));
    QImage desktop;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            desktop = portalImage();
            return desktop.size() == QSize(5120, 2160) &&
                   desktop.pixel((rect->bottomRight() - QPoint(2, 2)) * 2) == qRgb(255, 255, 255);
        },
        waylandStepTimeoutMs))
        << "the text window was never painted";

    // Ctrl+N: an overlay over each screen, then a drag over the text window.
    ASSERT_TRUE(press({QStringLiteral("-M"), QStringLiteral("ctrl"), QStringLiteral("n"), QStringLiteral("-m"),
                       QStringLiteral("ctrl")}));
    ASSERT_TRUE(processEventsUntil(
        [&] {
            const std::vector<QRect> windows = xWindowsOf(display, program.processId());
            return std::all_of(
                QGuiApplication::screens().begin(), QGuiApplication::screens().end(), [&](const QScreen* screen) {
                    return std::find(windows.begin(), windows.end(), screen->geometry()) != windows.end();
                });
        },
        waylandStepTimeoutMs))
        << "no overlay over every screen";
    // The drag starts only once XWayland has the pointer, which only the overlay can give it there: an X11
    // window is mapped a moment before the compositor hands it the pointer, and a press before that would go to
    // the window below. Until the overlays came, the pointer was over no X11 window.
    EXPECT_TRUE(pointAt(selection.topLeft(), [&] { return xPointerAt(display, selection.topLeft()); }))
        << "the overlay never took the pointer";
    ASSERT_TRUE(drag(selection.topLeft(), selection.bottomRight() + QPoint(1, 1))) << "the test pointer failed";

    // The screenshot holds the text window's own pixels on the scale-2 output, as the portal shows them.
    const QDir screenshots(sandbox.filePath(QStringLiteral("data/Lumetrove/Screenshots")));
    QImage captured;
    const auto saved = [&] {
        const QStringList files = screenshots.entryList({QStringLiteral("*.png")}, QDir::Files);
        captured = files.size() == 1 ? QImage(screenshots.filePath(files.front())) : QImage();
        return !captured.isNull();
    };
    processEventsUntil(saved, waylandStepTimeoutMs);
    ASSERT_FALSE(captured.isNull()) << "no screenshot was saved";
    // XWayland tells X11 programs every screen's scale as 1: the screenshot has the scale-2 output's own pixels
    // all the same, two per logical unit, exactly as the portal's image showed them before the capture (after
    // it the program's main window comes back, and sway may tile it beside the text window).
    const QImage expected = desktop.copy(QRect(selection.topLeft() * 2, selection.size() * 2));
    ASSERT_EQ(captured.size(), expected.size());
    captured = captured.convertToFormat(QImage::Format_RGB32);
    qsizetype different = 0;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            different += captured.pixel(x, y) != expected.pixel(x, y);
        }
    }
    // The pointer, at the selection's corner, may be in one image and not the other; shrunk to one pixel per
    // logical unit, every letter's edge would differ.
    EXPECT_LT(different, expected.width() * expected.height() / 100)
        << "the screenshot is not the portal's image of the selection";
}

TEST(PortalAnswersOnWaylandTest, ARefusalEndsTheCaptureCancelledAndAMissingPortalShowsWhatIsMissing)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    struct Case {
        const char* what;
        std::optional<uint> response; ///< none: no portal at all
        bool permissionWindow;
    };
    const std::vector<Case> cases{
        {"refused", 1u, false},
        {"no portal", std::nullopt, true},
        {"the portal cannot take it", 2u, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrivateBus bus;
        ASSERT_FALSE(bus.address().isEmpty());
        std::unique_ptr<FakeScreenshotPortal> portal;
        if (c.response) {
            portal = std::make_unique<FakeScreenshotPortal>(bus.connect(QStringLiteral("portal")), *c.response);
            ASSERT_TRUE(portal->serve());
        }
        if (QWidget* window = ScreenCapturePermissions::shared().window()) {
            window->close();
            processEventsUntil([&] { return ScreenCapturePermissions::shared().window() == nullptr; });
        }
        const QStringList filesBefore = screenshotFiles();

        ScreenshotCapture capture(sharedTextRecognizer(), nullptr);
        capture.setPortalBus(bus.connect(QStringLiteral("capture")));
        const ScreenCaptureOverlays& overlays = ScreenCaptureOverlays::installIn(capture);
        std::optional<CaptureResult> outcome;
        bool gotResults = false;
        capture.startAreaCapture(
            false, [&](const std::optional<QList<CapturedScreenshotInfo>>& results, CaptureResult result) {
                outcome = result;
                gotResults = results.has_value();
                return CaptureFollowUp::showMainWindow;
            });
        ASSERT_TRUE(processEventsUntil([&] { return outcome.has_value(); }, waylandStepTimeoutMs));
        EXPECT_EQ(*outcome, CaptureResult::cancelled);
        EXPECT_FALSE(gotResults);
        EXPECT_TRUE(overlays.windows().isEmpty()) << "overlays opened without a screenshot";
        EXPECT_EQ(screenshotFiles(), filesBefore);

        QWidget* window = ScreenCapturePermissions::shared().window();
        if (!c.permissionWindow) {
            EXPECT_FALSE(window && window->isVisible());
            continue;
        }
        ASSERT_TRUE(window && window->isVisible()) << "no permission window";
        const auto* text = window->findChild<QLabel*>(QStringLiteral("permissionText"));
        ASSERT_TRUE(text);
        EXPECT_EQ(text->text(), QString::fromLatin1(ScreenCapturePermissions::missingPortalText));
        EXPECT_TRUE(text->text().contains(QStringLiteral("desktop portal with screenshot support")));
        // Starting the program again would not bring a portal.
        for (const QPushButton* button : window->findChildren<QPushButton*>()) {
            EXPECT_FALSE(button->text().contains(QStringLiteral("Relaunch")));
        }
    }
}

TEST(PortalAnswersOnWaylandTest, WithoutAPortalTheWindowThatSaysSoHasTheKeyboardAndEscapeClosesIt)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    PrivateBus bus; // on which no portal answers
    ASSERT_FALSE(bus.address().isEmpty());
    // Sway's default: a request for the keyboard only marks the window.
    ASSERT_TRUE(runProgram(QStringLiteral("swaymsg"),
                           {QStringLiteral("focus_on_window_activation"), QStringLiteral("urgent")}));
    ASSERT_TRUE(runProgram(QStringLiteral("swaymsg"), {QStringLiteral("focus"), QStringLiteral("output"), wideOutput}));
    const QString mainTitle = QStringLiteral("Screenshots");
    QWidget mainWindow;
    mainWindow.setWindowTitle(mainTitle);
    mainWindow.show();
    const std::optional<SwayView> main = windowNamed(QCoreApplication::applicationPid(), mainTitle);
    ASSERT_TRUE(main) << "the main window did not come up";
    ASSERT_TRUE(focus(*main));

    // The capture started from the main window hides it, finds no portal and gives the window back, which
    // comes back on its output by way of full screen, while the window that says what is missing opens.
    ScreenshotCapture capture(sharedTextRecognizer(), nullptr);
    capture.setPortalBus(bus.connect(QStringLiteral("capture")));
    capture.setMainWindow(std::make_shared<WidgetCaptureMainWindow>(&mainWindow));
    ScreenCaptureOverlays::installIn(capture);
    std::optional<CaptureResult> outcome;
    capture.startAreaCapture(false, [&](const std::optional<QList<CapturedScreenshotInfo>>&, CaptureResult result) {
        outcome = result;
        return CaptureFollowUp::showMainWindow;
    });
    ASSERT_TRUE(processEventsUntil([&] { return outcome.has_value(); }, waylandStepTimeoutMs));
    const QString permissionTitle = QStringLiteral("Grant Screen Recording Permissions");
    std::optional<SwayView> permission;
    EXPECT_TRUE(processEventsUntil(
        [&] {
            permission.reset();
            std::optional<SwayView> back;
            for (const SwayView& view : swayViewsOf(QCoreApplication::applicationPid())) {
                if (view.name == permissionTitle) {
                    permission = view;
                } else if (view.name == mainTitle) {
                    back = view;
                }
            }
            // Both windows up, the main window no longer full screen: sway has given the keyboard for good.
            return permission && back && !back->fullScreen && permission->focused;
        },
        waylandStepTimeoutMs))
        << "the window that says what is missing came up without the keyboard";
    ASSERT_TRUE(permission);

    ASSERT_TRUE(press({QStringLiteral("-k"), QStringLiteral("Escape")}));
    EXPECT_TRUE(
        processEventsUntil([] { return ScreenCapturePermissions::shared().window() == nullptr; }, waylandStepTimeoutMs))
        << "Escape left the window open";
}

} // namespace
} // namespace lumetrove
