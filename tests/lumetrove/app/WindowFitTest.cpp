#include "lumetrove/app/WindowFit.h"

#include "lumetrove/app/AppState.h"
#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/FirstLaunchChecker.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/browser/FolderListView.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/UserDefaults.h"
#include "lumetrove/views/SettingsViewModel.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

constexpr ColumnWidths minimums{250, 500, 500};
constexpr ColumnWidths ideals{350, 650, 600};

TEST(WindowFitTest, ColumnMinimumsGiveWayOnlyWhereTheyDoNotFitAndTheSidebarLast)
{
    EXPECT_EQ(fitColumnMinimums(minimums, 1250, 200), minimums);
    EXPECT_EQ(fitColumnMinimums(minimums, 3000, 200), minimums);
    EXPECT_EQ(fitColumnMinimums(minimums, 1000, 200), (ColumnWidths{250, 375, 375}));
    // The first-launch list wants more than the detail column: the detail column gives way no further
    // than the list does, and the list takes what the detail column leaves.
    EXPECT_EQ(fitColumnMinimums({250, 600, 500}, 1300, 200), (ColumnWidths{250, 550, 500}));
    EXPECT_EQ(fitColumnMinimums({250, 600, 500}, 1000, 200), (ColumnWidths{250, 375, 375}));
    // With list and detail at their floor, the sidebar gives way: a 640 screen holds all three.
    EXPECT_EQ(fitColumnMinimums(minimums, 630, 200), (ColumnWidths{230, 200, 200}));
    // Narrower than the floors allow: the floors hold.
    EXPECT_EQ(fitColumnMinimums(minimums, 500, 200), (ColumnWidths{200, 200, 200}));

    for (int width = 600; width <= 1600; width += 7) {
        SCOPED_TRACE(width);
        const ColumnWidths fitted = fitColumnMinimums({250, 600, 500}, width, 200);
        EXPECT_EQ(fitted.sidebar, std::clamp(width - 2 * 200, 200, 250));
        EXPECT_LE(fitted.sum(), std::max(width, 3 * 200));
        EXPECT_LE(fitted.list, 600);
        EXPECT_LE(fitted.detail, 500);
        EXPECT_GE(std::min(fitted.list, fitted.detail), 200);
        if (width >= 1350) {
            EXPECT_EQ(fitted, (ColumnWidths{250, 600, 500}));
        }
    }
}

TEST(WindowFitTest, TheStartingWidthGoesToTheSidebarThenTowardsTheIdealsThenToListAndDetail)
{
    EXPECT_EQ(divideColumns(minimums, ideals, 360, 1250), minimums);
    EXPECT_EQ(divideColumns(minimums, ideals, 360, 900), minimums);
    EXPECT_EQ(divideColumns(minimums, ideals, 360, 1300), (ColumnWidths{300, 500, 500}));
    // 1400: the sidebar at its ideal, 50 left for list and detail in proportion to 150 and 100 missing.
    EXPECT_EQ(divideColumns(minimums, ideals, 360, 1400), (ColumnWidths{350, 530, 520}));
    EXPECT_EQ(divideColumns(minimums, ideals, 360, 1600), ideals);
    EXPECT_EQ(divideColumns(minimums, ideals, 360, 1900), (ColumnWidths{350, 800, 750}));
    EXPECT_EQ(divideColumns(minimums, {500, 650, 600}, 360, 1600), (ColumnWidths{360, 644, 596}));
    for (int width = 1250; width <= 2000; width += 11) {
        EXPECT_EQ(divideColumns(minimums, ideals, 360, width).sum(), width) << width;
    }
}

TEST(WindowFitTest, AFrameIsMovedTheLeastWayIntoTheAvailableArea)
{
    const QRect available(0, 30, 1280, 740);
    EXPECT_EQ(placeInside(QRect(100, 100, 800, 600), available), QPoint(100, 100));
    EXPECT_EQ(placeInside(QRect(600, 300, 800, 600), available), QPoint(480, 170));
    EXPECT_EQ(placeInside(QRect(-50, 0, 800, 600), available), QPoint(0, 30));
    // Larger than the area: its top left corner stays in it, so the title bar can be reached.
    EXPECT_EQ(placeInside(QRect(200, 200, 1400, 800), available), QPoint(0, 30));
    EXPECT_EQ(placeInside(QRect(1500, 10, 400, 300), QRect(1280, 0, 1280, 800)), QPoint(1500, 10));
}

class MainWindowFitTest : public testing::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        store = openStore();
        folders = std::make_unique<FoldersListManager>(store);
    }

    /// The main window as the program builds it, laid out but not shown.
    void makeWindow(bool firstLaunch)
    {
        // Every launch is a first one until one finds screen recording granted (never, here).
        UserDefaults::remove(UserDefaults::hasLaunchedBefore);
        if (!firstLaunch) {
            UserDefaults::setValue(UserDefaults::hasLaunchedBefore, true);
        }
        firstLaunchChecker = std::make_unique<FirstLaunchChecker>([] { return false; });
        window = std::make_unique<QMainWindow>();
        content = new ContentView({.makeScreenshotsListManager = [this] { return new ScreenshotsListManager(store); },
                                   .foldersListManager = *folders,
                                   .appState = AppState::shared(),
                                   .minimumWindowSizeWithFirstLaunchArrow = QSize(1390, 700),
                                   .urlHandler = &URLHandler::shared(),
                                   .firstLaunchChecker = firstLaunchChecker.get(),
                                   .settingsViewModel = &settings,
                                   .store = store});
        window->setCentralWidget(content);
        window->addToolBar(content->toolbar());
        fit = new MainWindowFit(*window, *content, QSize(1400, 800));
        QObject::connect(content, &ContentView::minimumWindowSizeChanged, fit, &MainWindowFit::setWantedMinimumSize);
        testing::waitForList(content->screenshotsListManager());
        fit->setWantedMinimumSize(content->minimumWindowSize());
    }

    /// The smallest the window can be made: its own minimum and its layout's.
    QSize smallestWindow() const { return window->minimumSize().expandedTo(window->minimumSizeHint()); }

    std::shared_ptr<ScreenshotsDB> store;
    std::unique_ptr<FoldersListManager> folders;
    std::unique_ptr<FirstLaunchChecker> firstLaunchChecker;
    SettingsViewModel settings;
    std::unique_ptr<QMainWindow> window;
    ContentView* content = nullptr;
    MainWindowFit* fit = nullptr;
};

TEST_F(MainWindowFitTest, TheWindowKeepsItsSizesWhereTheScreenHasRoomAndFitsOrdinaryScreens)
{
    struct Case {
        QRect available;
        bool firstLaunch;
    };
    for (const Case& c :
         {Case{QRect(0, 0, 2560, 1410), false}, Case{QRect(0, 0, 2560, 1410), true},
          Case{QRect(0, 0, 1280, 770), false}, Case{QRect(0, 0, 1280, 770), true}, Case{QRect(0, 0, 1280, 700), true},
          Case{QRect(1280, 0, 1024, 740), true}, Case{QRect(0, 0, 1024, 600), false},
          Case{QRect(0, 0, 640, 480), false}, Case{QRect(0, 0, 640, 400), true}}) {
        SCOPED_TRACE(QStringLiteral("%1x%2 first launch %3")
                         .arg(c.available.width())
                         .arg(c.available.height())
                         .arg(c.firstLaunch)
                         .toStdString());
        makeWindow(c.firstLaunch);
        ASSERT_EQ(content->shouldShowFirstLaunchArrow(), c.firstLaunch);
        fit->fitTo(c.available);
        const QSize room = fit->roomIn(c.available);
        EXPECT_LE(room.width(), c.available.width());
        EXPECT_LT(room.height(), c.available.height()); // a title bar is allowed for

        EXPECT_EQ(window->size(), QSize(1400, 800).boundedTo(room));
        EXPECT_LE(smallestWindow().width(), room.width());
        EXPECT_LE(smallestWindow().height(), room.height());
        if (room.width() >= 1390 && room.height() >= 700) {
            EXPECT_EQ(smallestWindow(), c.firstLaunch ? QSize(1390, 700) : window->minimumSizeHint());
        }
        // The columns keep their minimums where they fit; the sidebar keeps its own on any ordinary screen, and
        // gives way only once the others are at their floors. Those leave the
        // window narrow enough to be tiled to half a 1920 screen, its borders aside.
        if (room.width() >= 1000) {
            EXPECT_EQ(content->sidebar()->minimumWidth(), 250);
        } else {
            EXPECT_GE(content->sidebar()->minimumWidth(), 200);
        }
        if (room.width() >= 1270 && !c.firstLaunch) {
            EXPECT_GE(window->minimumSizeHint().width(), 250 + 320 + 360);
            EXPECT_LE(window->minimumSizeHint().width(), 958);
        }
        window.reset();
    }
}

TEST_F(MainWindowFitTest, OnAScreen640WideTheWindowAndTheDetailPanesControlsAreInsideIt)
{
    addScreenshot(*store, QStringLiteral("Invoice"));
    makeWindow(false);
    window->show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return window->isVisible() && content->isVisible(); }));
    // Once the window manager has framed it, the window fits itself to its screen once more: that comes first.
    testing::processEventsUntil([&] { return window->frameGeometry() != window->geometry(); });
    QCoreApplication::processEvents();
    // Shown on the test's screen, then fitted to a 640 x 480 one, as the window does when moved there, at the
    // most the room there allows.
    const QRect available(0, 0, 640, 480);
    fit->fitTo(available);
    const QSize room = fit->roomIn(available);
    window->resize(room);
    ASSERT_TRUE(testing::processEventsUntil([&] { return window->width() < 1400; }));
    EXPECT_LE(window->width(), room.width());
    const auto* add = window->findChild<QPushButton*>(QStringLiteral("addKeywordButton"));
    ASSERT_TRUE(add);
    ASSERT_TRUE(testing::processEventsUntil([&] { return add->isVisible(); }));
    // The columns are laid out anew once the layouts have taken in the window's new minimums.
    const auto addInside = [&] { return add->mapTo(window.get(), QPoint(add->width(), 0)).x() <= window->width(); };
    testing::processEventsUntil(addInside);
    EXPECT_TRUE(addInside()) << "the Add button is cut off at the window's edge: it ends at "
                             << add->mapTo(window.get(), QPoint(add->width(), 0)).x() << " of " << window->width();
    const auto* field = window->findChild<QLineEdit*>(QStringLiteral("newKeywordField"));
    ASSERT_TRUE(field);
    EXPECT_GE(field->width(), field->fontMetrics().horizontalAdvance(field->placeholderText()))
        << "the field is too narrow to say what it is for";
}

} // namespace
} // namespace lumetrove
