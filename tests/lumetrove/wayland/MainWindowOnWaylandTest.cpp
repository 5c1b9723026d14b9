#include "lumetrove/app/AppState.h"
#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/FirstLaunchChecker.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/app/WindowFit.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/UserDefaults.h"
#include "lumetrove/views/SettingsViewModel.h"
#include "tests/lumetrove/wayland/WaylandDesktop.h"

#include <QMainWindow>
#include <QScopeGuard>
#include <QScreen>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

using namespace lumetrove::testing;

TEST(MainWindowOnWaylandTest, MovedOntoASmallerOutputTheWindowTakesThatOutputsSize)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    // The main window as the program builds it, tiled by sway over the whole 1920 x 1080 output.
    UserDefaults::setValue(UserDefaults::hasLaunchedBefore, true);
    UserDefaults::setValue(UserDefaults::openAIAPIKey, QStringLiteral("sk-wayland-test"));
    const auto forget = qScopeGuard([] {
        UserDefaults::remove(UserDefaults::hasLaunchedBefore);
        UserDefaults::remove(UserDefaults::openAIAPIKey);
    });
    const std::shared_ptr<ScreenshotsDB>& store = ScreenshotsDB::shared();
    FoldersListManager folders(store);
    FirstLaunchChecker firstLaunchChecker([] { return false; });
    SettingsViewModel settings;
    QMainWindow window;
    auto* content = new ContentView({.makeScreenshotsListManager = [&] { return new ScreenshotsListManager(store); },
                                     .foldersListManager = folders,
                                     .appState = AppState::shared(),
                                     .minimumWindowSizeWithFirstLaunchArrow = QSize(1390, 700),
                                     .urlHandler = &URLHandler::shared(),
                                     .firstLaunchChecker = &firstLaunchChecker,
                                     .settingsViewModel = &settings,
                                     .store = store});
    window.setCentralWidget(content);
    window.addToolBar(content->toolbar());
    auto* fit = new MainWindowFit(window, *content, QSize(1400, 800));
    // The most room the window asks for on a wide screen: a first launch's, with the arrow towards the
    // assistant's button.
    fit->setWantedMinimumSize(QSize(1390, 700));
    const QString title = QStringLiteral("Screenshots");
    window.setWindowTitle(title);
    ASSERT_TRUE(runProgram(QStringLiteral("swaymsg"),
                           {QStringLiteral("focus"), QStringLiteral("output"), QStringLiteral("HEADLESS-1")}));
    window.show();
    const std::optional<SwayView> view = windowNamed(QCoreApplication::applicationPid(), title);
    ASSERT_TRUE(view);
    ASSERT_TRUE(processEventsUntil([&] { return window.size() == QSize(1920, 1080); }, waylandStepTimeoutMs));

    // Moved to the 640 x 400 output (as sway's move keys do), it shrinks to that output's size, as it would have
    // been had it started there: none of it is beyond the output's edge. Its height may not go below the
    // least its columns need.
    ASSERT_TRUE(runProgram(QStringLiteral("swaymsg"),
                           {QStringLiteral("[con_id=%1]").arg(view->id), QStringLiteral("move"), QStringLiteral("to"),
                            QStringLiteral("output"), QStringLiteral("HEADLESS-2")}));
    const auto fitsTheSmallOutput = [&] {
        const QSize smallest = window.minimumSize().expandedTo(window.minimumSizeHint());
        return window.screen() != nullptr && window.screen()->geometry().width() == 640 && window.width() <= 640 &&
               smallest.width() <= 640 && window.height() <= std::max(400, smallest.height());
    };
    EXPECT_TRUE(processEventsUntil(fitsTheSmallOutput, waylandStepTimeoutMs))
        << "the window is " << window.width() << "x" << window.height() << " on an output of 640x400";
}

} // namespace
} // namespace lumetrove
