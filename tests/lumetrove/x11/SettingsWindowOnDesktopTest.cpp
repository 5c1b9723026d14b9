#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/LumetroveApp.h"
#include "tests/lumetrove/Sandbox.h"

#include <QFile>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

using testing::processEventsUntil;

constexpr int stepTimeoutMs = 20000;

TEST(SettingsWindowOnDesktopTest, ItOpensWhollyOnTheMainWindowsScreenCentredThere)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        GTEST_SKIP() << "no X display: the desktop tests start one with Xvfb";
    }
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    // The program's lock and socket in a runtime directory of its own.
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    ASSERT_TRUE(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray runtimeBefore = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", runtimeBefore); });

    LumetroveApp app({QStringLiteral("lumetrove")});
    ASSERT_TRUE(app.start());
    QMainWindow* main = app.mainWindow();
    ASSERT_TRUE(main);
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    // The user works on the second screen, where the window manager would not place a new window by itself.
    main->windowHandle()->setScreen(screens[1]);
    main->move(screens[1]->availableGeometry().topLeft() + QPoint(20, 20));
    ASSERT_TRUE(processEventsUntil([&] { return main->screen() == screens[1]; }, stepTimeoutMs))
        << "the main window did not reach the second screen";

    app.showSettingsWindow();
    QWidget* settings = app.settingsWindow();
    ASSERT_TRUE(settings);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    const QRect area = screens[1]->availableGeometry();
    QRect frame;
    // The window manager may add its frame a moment after the window is mapped.
    const bool placed = processEventsUntil(
        [&] {
            frame = settings->frameGeometry();
            return area.contains(frame) && (frame.center() - area.center()).manhattanLength() <= 64;
        },
        stepTimeoutMs);
    EXPECT_TRUE(placed) << "the Settings window's frame is at " << frame.x() << "," << frame.y() << " " << frame.width()
                        << "x" << frame.height() << ", the main window's screen's work area at " << area.x() << ","
                        << area.y() << " " << area.width() << "x" << area.height();
}

} // namespace
} // namespace lumetrove
