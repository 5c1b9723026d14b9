#include "lumetrove/app/AppCommands.h"

#include "lumetrove/app/AppDelegate.h"
#include "lumetrove/app/AppState.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "lumetrove/platform/SoftwareUpdater.h"
#include "tests/lumetrove/Sandbox.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <utility>

namespace lumetrove {
namespace {

// Records the notifications posted while it lives.
struct PostedNotifications {
    QObject context;
    QList<Notification> posted;
    PostedNotifications()
    {
        for (const char* name : {"takeScreenshot", "deleteSelectedScreenshot"}) {
            NotificationCenter::defaultCenter().addObserver(QString::fromLatin1(name), &context,
                                                            [this](const Notification& n) { posted << n; });
        }
    }
};

QAction* findAction(QMainWindow& window, const QString& menu, const QString& title)
{
    for (QAction* menuAction : window.menuBar()->actions()) {
        if (QString(menuAction->text()).remove(QLatin1Char('&')) == menu) {
            for (QAction* action : menuAction->menu()->actions()) {
                if (action->text() == title) {
                    return action;
                }
            }
        }
    }
    return nullptr;
}

class AppCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        installAppCommands(window, updater);
        auto* central = new QWidget(&window);
        field = new QLineEdit(central);
        list = new QListWidget(central);
        list->move(0, 40);
        window.setCentralWidget(central);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    SoftwareUpdater updater;
    QMainWindow window;
    QLineEdit* field = nullptr;
    QListWidget* list = nullptr;
};

TEST_F(AppCommandsTest, MenusHoldTheCommandsInOrderWithCtrlShortcuts)
{
    QStringList menus;
    for (QAction* action : window.menuBar()->actions()) {
        menus << action->text();
    }
    EXPECT_EQ(menus, (QStringList{"&Lumetrove", "&File", "&Edit", "&Help"}));
    QAction* update = findAction(window, "Lumetrove", QStringLiteral("Check for Updates\u2026"));
    ASSERT_NE(update, nullptr);
    EXPECT_FALSE(update->isEnabled()) << "the package manager updates the program";
    EXPECT_EQ(findAction(window, "File", "New Screenshot")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_EQ(findAction(window, "Edit", "Copy")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
    EXPECT_NE(findAction(window, "Help", "Feedback"), nullptr);
}

TEST_F(AppCommandsTest, NewScreenshotAIAssistantAndCloseRunWithTheirKeys)
{
    PostedNotifications spy;
    list->setFocus();
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    findAction(window, "File", "AI Assistant")->trigger();
    ASSERT_EQ(spy.posted.size(), 2);
    EXPECT_TRUE(spy.posted[0].userInfo.isEmpty());
    EXPECT_TRUE(spy.posted[1].boolValue("shouldAIProcess"));
    EXPECT_TRUE(spy.posted[1].boolValue("aiAssistant"));

    // Ctrl+W closes the window as its title bar does, from a text field too.
    field->setFocus();
    QTest::keyClick(field, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(AppCommandsTest, TheMenusOpenFromTheKeyboardWithF10AndTheirAltKeys)
{
    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_F10);
    EXPECT_EQ(QApplication::activePopupWidget(), menus[0]->menu());
    for (const auto& [key, menu] : {std::pair{Qt::Key_F, menus[1]}, {Qt::Key_E, menus[2]}, {Qt::Key_H, menus[3]}}) {
        SCOPED_TRACE(menu->text().toStdString());
        if (QWidget* open = QApplication::activePopupWidget()) {
            open->close();
        }
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(list, key, Qt::AltModifier);
        EXPECT_EQ(QApplication::activePopupWidget(), menu->menu());
    }
    if (QWidget* open = QApplication::activePopupWidget()) {
        open->close();
    }
}

TEST_F(AppCommandsTest, AShortcutKeyThatReachesTheWindowUnmatchedStillRunsItsCommand)
{
    // As on Wayland, where keys that come right behind the keyboard focus are matched against the shortcuts
    // before the window is active, and then delivered to it as plain keys.
    PostedNotifications spy;
    QKeyEvent ctrlN(QEvent::KeyPress, Qt::Key_N, Qt::ControlModifier, QStringLiteral("n"));
    QApplication::sendEvent(&window, &ctrlN);
    ASSERT_EQ(spy.posted.size(), 1);
    EXPECT_EQ(spy.posted[0].name, QStringLiteral("takeScreenshot"));
    // A key that a focused widget receives stays its own.
    field->setFocus();
    QKeyEvent ctrlA(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(field, &letter);
    QApplication::sendEvent(field, &ctrlA);
    EXPECT_EQ(field->text(), QStringLiteral("x"));
    EXPECT_EQ(field->selectedText(), QStringLiteral("x"));
    EXPECT_EQ(spy.posted.size(), 1);
}

TEST_F(AppCommandsTest, DeleteDeletesOnlyWhenNoTextFieldHasTheFocusAndBackspaceNever)
{
    PostedNotifications spy;
    field->setFocus();
    field->setText("name");
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Delete);
    findAction(window, "Edit", "Delete")->trigger();
    EXPECT_TRUE(spy.posted.isEmpty());
    EXPECT_EQ(field->text(), "nam");

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Backspace);
    EXPECT_TRUE(spy.posted.isEmpty());
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_EQ(spy.posted.size(), 1);
    EXPECT_EQ(spy.posted[0].name, "deleteSelectedScreenshot");
}

TEST_F(AppCommandsTest, PasteboardCommandsGoToTheFocusedTextField)
{
    field->setText("hello");
    field->setFocus();
    findAction(window, "Edit", "Select All")->trigger();
    EXPECT_EQ(field->selectedText(), "hello");
    list->setFocus();
    findAction(window, "Edit", "Paste")->trigger(); // nobody takes it: nothing happens
    EXPECT_EQ(field->text(), "hello");
}

TEST(AIBadgeTest, LayoutRoundsTheTextAndCentresIt)
{
    const AIBadgeLayout layout = aiBadgeLayout(QSizeF(27.4, 15));
    EXPECT_EQ(layout.imageSize, QSize(51, 21));
    EXPECT_EQ(layout.textOrigin, QPoint(13, 3));
    EXPECT_DOUBLE_EQ(layout.cornerRadius, 10.5);
    EXPECT_EQ(makeAIBadgeImage().isNull(), false);
}

TEST(AppDelegateTest, OnlyTheWindowTitledExactlyScreenshotsIsHiddenInsteadOfClosed)
{
    AppDelegate delegate;
    QWidget main, other, almost;
    main.setWindowTitle("Screenshots");
    other.setWindowTitle("Settings");
    almost.setWindowTitle("Screenshots ");
    main.show();
    EXPECT_FALSE(delegate.windowShouldClose(&main));
    EXPECT_TRUE(delegate.windowShouldClose(&other));
    EXPECT_TRUE(delegate.windowShouldClose(&almost));
}

TEST(AppDelegateTest, TheMainWindowOutlivesTheDesktopsCloseButNotTheProgramsOwnWhenPermissionIsMissing)
{
    for (const bool permission : {true, false}) {
        SCOPED_TRACE(permission ? "granted" : "missing");
        AppDelegate delegate;
        delegate.setPermissionCheck([permission] { return permission; });
        QWidget main;
        main.setWindowTitle("Screenshots");
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
        delegate.applicationDidFinishLaunching(&main);
        if (!permission) {
            EXPECT_FALSE(main.isVisible()) << "the program's own close was stopped";
            continue;
        }
        // Qt's Wayland plugin answers the compositor's close request this way, not with a spontaneous event: the
        // window is hidden to the tray or minimised, never closed.
        EXPECT_FALSE(main.windowHandle()->close());
        EXPECT_EQ(main.isVisible(), !AppDelegate::trayAvailable());
    }
}

TEST(AppDelegateTest, TheTrayMenusSettingsShortcutOpensSettingsWhileTheMenuIsOpen)
{
    AppDelegate delegate;
    delegate.showStatusItem();
    QMenu* menu = delegate.menu();
    ASSERT_NE(menu, nullptr);
    QAction* settings = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == "Settings...") {
            settings = action;
        }
    }
    ASSERT_NE(settings, nullptr);
    ASSERT_EQ(settings->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));

    QSignalSpy opened(&AppState::shared(), &AppState::openSettingsSignal);
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(opened.size(), 1);
    EXPECT_TRUE(testing::processEventsUntil([&] { return !menu->isVisible(); }));
    // Other keys keep their menu meaning.
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Comma);
    EXPECT_EQ(opened.size(), 1);
    menu->close();
}

TEST(AppDelegateTest, TheAssistantItemShowsTheBadgeAtItsOwnSizeAndAFilledSymbolAtMenuSize)
{
    AppDelegate delegate;
    delegate.showStatusItem();
    ASSERT_NE(delegate.menu(), nullptr);
    const QIcon icon = delegate.menu()->actions().value(0)->icon();
    ASSERT_EQ(delegate.menu()->actions().value(0)->text(), "AI Assistant");
    const QImage badge = makeAIBadgeImage();
    EXPECT_EQ(icon.pixmap(badge.size(), 1.0).toImage().convertToFormat(badge.format()), badge);

    // At the size a menu draws its icons, the image fills most of the box, not a strip of it.
    const int side = delegate.menu()->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, delegate.menu());
    const QImage small = icon.pixmap(QSize(side, side), 1.0).toImage();
    int top = small.height();
    int bottom = -1;
    for (int y = 0; y < small.height(); ++y) {
        for (int x = 0; x < small.width(); ++x) {
            if (qAlpha(small.pixel(x, y)) > 128) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    EXPECT_GE(bottom - top + 1, side * 2 / 3) << "drawn " << small.width() << " x " << small.height();
}

TEST(AppDelegateTest, OpenedFilesReplaceTheHandlersListAndAnEmptyRequestIsIgnored)
{
    AppDelegate delegate;
    const QList<QUrl> first{QUrl::fromLocalFile("/tmp/a.png")};
    const QList<QUrl> second{QUrl::fromLocalFile("/tmp/b.png"), QUrl::fromLocalFile("/tmp/c.jpg")};
    delegate.openURLs(first);
    delegate.openURLs({});
    EXPECT_EQ(URLHandler::shared().urls(), first);
    delegate.openURLs(second);
    EXPECT_EQ(URLHandler::shared().urls(), second);
    URLHandler::shared().setUrls({});
}

} // namespace
} // namespace lumetrove
