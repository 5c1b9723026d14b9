#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/WindowList.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

template <typename Predicate> bool processEventsUntil(Predicate done, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

/// Runs xdotool with `arguments` while the event loop goes on.
bool xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return processEventsUntil([&] { return process.state() == QProcess::NotRunning; }) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

class CaptureOnDesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            GTEST_SKIP() << "no X display: the desktop tests run under scripts/test, which starts one";
        }
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
        ASSERT_TRUE(processEventsUntil([&] { return window_.canReadLine(); })) << "the text window did not start";
        ASSERT_TRUE(processEventsUntil([&] {
            for (const WindowRecord& record : readWindowStack().frontToBack) {
                if (record.pid == window_.processId()) {
                    return true;
                }
            }
            return false;
        })) << "the window manager did not list the text window";
    }

    QProcess window_;
};

TEST_F(CaptureOnDesktopTest, ADragOverAnotherApplicationsWindowLandsInTheLibrary)
{
    ScreenshotsListManager library;
    const qsizetype before = library.screenshots().size();
    // The window lies on the right half of the display.
    openTextWindow(900, 200);

    bool finished = false;
    CaptureResult outcome = CaptureResult::cancelled;
    ScreenshotCapture& capture = ScreenshotCapture::shared();
    capture.startAreaCapture(
        false, [&](const std::optional<QList<CapturedScreenshotInfo>>& results, CaptureResult result) {
            outcome = result;
            for (const CapturedScreenshotInfo& info : results.value_or(QList<CapturedScreenshotInfo>{})) {
                library.addScreenshot(info, false);
            }
            finished = true;
        });
    ASSERT_TRUE(processEventsUntil([&] {
        return !capture.shadeWindows().isEmpty() &&
               capture.shadeWindows().size() == QGuiApplication::screens().size() &&
               std::all_of(capture.shadeWindows().begin(), capture.shadeWindows().end(),
                           [](const QPointer<QWidget>& overlay) { return overlay && overlay->isVisible(); });
    }));
    // Every screen is covered by its own overlay.
    for (QScreen* screen : QGuiApplication::screens()) {
        EXPECT_TRUE(
            std::any_of(capture.shadeWindows().begin(), capture.shadeWindows().end(),
                        [&](const QPointer<QWidget>& overlay) { return overlay->geometry() == screen->geometry(); }))
            << screen->name().toStdString();
    }
    processEventsUntil([] { return false; }, 300);

    // Drag over the window's text: from inside its frame, so the window under the mouse is the text window.
    ASSERT_TRUE(
        xdotool({QStringLiteral("mousemove"), QStringLiteral("910"), QStringLiteral("215"), QStringLiteral("mousedown"),
                 QStringLiteral("1"), QStringLiteral("mousemove"), QStringLiteral("1100"), QStringLiteral("260"),
                 QStringLiteral("mousemove"), QStringLiteral("1345"), QStringLiteral("360"), QStringLiteral("mouseup"),
                 QStringLiteral("1")}));
    ASSERT_TRUE(processEventsUntil([&] { return finished; })) << "the capture never finished";
    ASSERT_EQ(outcome, CaptureResult::success);

    ASSERT_EQ(library.screenshots().size(), before + 1);
    const ScreenshotPtr screenshot = library.screenshots().front();
    ASSERT_TRUE(screenshot->text());
    EXPECT_TRUE(screenshot->text()->contains(QStringLiteral("Quarterly budget review")))
        << screenshot->text()->toStdString();
    EXPECT_TRUE(screenshot->text()->contains(QStringLiteral("invoice archive")));
    EXPECT_EQ(screenshot->capturedAppName(), QStringLiteral("Ledger"));
    ASSERT_TRUE(screenshot->imageUrl());
    const QString path = screenshot->imageUrl()->toLocalFile();
    EXPECT_EQ(QFileInfo(path).absolutePath(), *screenshotsDirectory());
    EXPECT_EQ(QImage(path).size(), QSize(435, 145));
}

} // namespace
} // namespace lumetrove
