#include "lumetrove/browser/FolderListView.h"

#include "lumetrove/browser/DragManager.h"
#include "lumetrove/browser/FolderSidebarModel.h"
#include "lumetrove/browser/SmartFolderSheet.h"
#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/browser/BrowserTest.h"

#include <QAbstractItemModelTester>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <cmath>

namespace lumetrove {
namespace {

class FolderListViewTest : public testing::BrowserTest {
protected:
    void makeSidebar(int screenshotCount)
    {
        makeLibrary(screenshotCount);
        sidebar = std::make_unique<FolderListView>(*folders, *screenshots, selection, store);
        sidebar->resize(260, 600);
        sidebar->show();
        list = testing::controlNamed<QListView>(sidebar.get(), QStringLiteral("Sidebar"));
        ASSERT_TRUE(list);
        waitForCounts();
    }

    QToolButton* newFolderButton()
    {
        return testing::controlNamed<QToolButton>(sidebar.get(), QStringLiteral("New Folder"));
    }

    void TearDown() override
    {
        DragManager::shared().setDragRunner(nullptr);
        sidebar.reset();
        testing::BrowserTest::TearDown();
    }

    void waitForCounts()
    {
        ASSERT_TRUE(testing::processEventsUntil([&] { return !sidebar->sidebarModel().countsPending(); }));
    }

    qint64 countShown(const FolderSection& section)
    {
        FolderSidebarModel& model = sidebar->sidebarModel();
        return model.index(model.rowOf(section)).data(FolderSidebarModel::CountRole).toLongLong();
    }

    QPoint centreOf(const FolderSection& section)
    {
        FolderSidebarModel& model = sidebar->sidebarModel();
        return list->visualRect(model.index(model.rowOf(section))).center();
    }

    /// Drags `screenshot` from a list row and, while the drag runs, moves it over and drops it on `target`;
    /// answers whether the sidebar accepted the drop. `data` replaces the drag's own data when set.
    bool dropScreenshot(const ScreenshotPtr& screenshot, QPoint target, const QMimeData* foreignData = nullptr)
    {
        bool accepted = false;
        DragManager::shared().setDragRunner([&](QDrag& drag) {
            const QMimeData* data = foreignData != nullptr ? foreignData : drag.mimeData();
            QWidget* viewport = list->viewport();
            QDragEnterEvent enter(target, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &enter);
            if (!enter.isAccepted()) {
                return Qt::IgnoreAction;
            }
            highlightDuringDrag = sidebar->dragOverFolderSection();
            QDropEvent drop(target, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &drop);
            accepted = drop.isAccepted();
            return accepted ? Qt::CopyAction : Qt::IgnoreAction;
        });
        QWidget source;
        DragManager::shared().beginDrag(&source, screenshot, QImage());
        return accepted;
    }

    std::vector<std::string> linksOf(qint64 screenshotId)
    {
        return column("SELECT folder_id FROM folders_screenshots WHERE screenshot_id = " +
                      std::to_string(screenshotId));
    }

    /// A window holding the sidebar, for tests that need one around it; it goes after the sidebar.
    std::unique_ptr<QWidget> window;
    std::unique_ptr<FolderListView> sidebar;
    QListView* list = nullptr;
    std::optional<FolderSection> highlightDuringDrag;
};

TEST_F(FolderListViewTest, ShowsFavouritesAndFoldersOnlyWhenThereAreFolders)
{
    makeSidebar(2);
    QAbstractItemModelTester tester(&sidebar->sidebarModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    FolderSidebarModel& model = sidebar->sidebarModel();
    ASSERT_EQ(model.rowCount(), 5);
    QStringList labels;
    for (int row = 0; row < model.rowCount(); ++row) {
        labels << model.index(row).data().toString();
    }
    EXPECT_EQ(labels, (QStringList{"Favourites", "All", "Today", "Yesterday", "Last Week"}));
    EXPECT_EQ(countShown(FolderSection::all()), 2);
    EXPECT_EQ(countShown(FolderSection::today()), 2);
    EXPECT_EQ(countShown(FolderSection::yesterday()), 0);

    sidebar->addNewFolder();
    ASSERT_EQ(model.rowCount(), 7);
    EXPECT_EQ(model.index(5).data().toString(), "Folders");
    EXPECT_EQ(model.index(6).data().toString(), "New Folder");
}

TEST_F(FolderListViewTest, NarrowedToItsMinimumEveryRowKeepsItsCountInSight)
{
    makeSidebar(3);
    folders->addFolder("A folder with a name far too long for the sidebar to show", false, QString());
    // Wide first, as a user may leave it, then narrowed: no row runs past the edge, nothing scrolls sideways.
    sidebar->resize(360, 600);
    QApplication::processEvents();
    sidebar->resize(250, 600);
    QApplication::processEvents();
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        EXPECT_GE(rect.left(), 0) << row;
        EXPECT_LE(rect.right(), list->viewport()->width() - 1) << row;
    }
}

/// The darkest text drawn in the label area of `section`'s row, as its lightness (0 black, 255 white).
int labelLightness(QListView& list, const FolderSection& section)
{
    const auto& model = static_cast<const FolderSidebarModel&>(*list.model());
    const QRect row = list.visualRect(model.index(model.rowOf(section)));
    const QImage image = list.viewport()->grab().toImage();
    int darkest = 255;
    for (int y = row.top() + 4; y < row.bottom() - 4; ++y) {
        for (int x = row.left() + 42; x < row.left() + 100; ++x) {
            darkest = std::min(darkest, QColor(image.pixel(x, y)).lightness());
        }
    }
    return darkest;
}

TEST_F(FolderListViewTest, RowsLookEnabledWithoutTheFocusAndFolderNamesGreyOnlyInAnInactiveWindow)
{
    makeSidebar(1);
    const Folder folder = *folders->addFolder(QStringLiteral("Plans"), false, QString());
    sidebar->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sidebar.get()));
    QToolButton* button = newFolderButton();
    ASSERT_TRUE(button);
    button->setFocus();
    ASSERT_FALSE(list->hasFocus());
    const QPalette& palette = list->palette();
    // Halfway between the text colour and the disabled text colour.
    const int between =
        (palette.color(QPalette::Text).lightness() + palette.color(QPalette::Disabled, QPalette::Text).lightness()) / 2;
    EXPECT_LT(labelLightness(*list, FolderSection::today()), between);
    EXPECT_LT(labelLightness(*list, FolderSection::list(folder)), between);

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_LT(labelLightness(*list, FolderSection::today()), between);
    EXPECT_GE(labelLightness(*list, FolderSection::list(folder)), between);
}

/// The contrast ratio (1 to 21) between the colour in `area` that stands out most from the colour at `ground`
/// and that colour, as the sidebar painted them.
double paintedContrast(const QImage& image, const QRect& area, QPoint ground)
{
    const auto luminance = [](QRgb pixel) {
        const auto linear = [](int channel) {
            const double c = channel / 255.0;
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) + 0.0722 * linear(qBlue(pixel));
    };
    const double background = luminance(image.pixel(ground));
    double best = 1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const double ink = luminance(image.pixel(x, y));
            best = std::max(best, (std::max(ink, background) + 0.05) / (std::min(ink, background) + 0.05));
        }
    }
    return best;
}

TEST_F(FolderListViewTest, SectionTitlesAndCountsStandOutInADarkPaletteWhosePlaceholderColourIsDark)
{
    makeSidebar(2);
    QPalette dark = sidebar->palette();
    for (const QPalette::ColorRole role : {QPalette::Base, QPalette::Window}) {
        dark.setColor(role, QColor(0x1e, 0x1e, 0x1e));
    }
    dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    // A light theme's placeholder colour, kept by a desktop theme that made the rest dark.
    dark.setColor(QPalette::PlaceholderText, QColor(0x23, 0x26, 0x29, 0x80));
    sidebar->setPalette(dark);
    QApplication::processEvents();

    FolderSidebarModel& model = sidebar->sidebarModel();
    ASSERT_EQ(model.kindAt(0), FolderSidebarModel::RowKind::header);
    const QModelIndex yesterday = model.index(model.rowOf(FolderSection::yesterday()));
    ASSERT_FALSE(list->selectionModel()->isSelected(yesterday));
    const QImage image = list->viewport()->grab().toImage();
    const QRect title = list->visualRect(model.index(0));
    const QRect count = list->visualRect(yesterday);
    EXPECT_GE(paintedContrast(image, title.adjusted(10, 0, -10, 0), title.topLeft() + QPoint(2, 2)), 4.5);
    EXPECT_GE(paintedContrast(image, count.adjusted(count.width() - 70, 0, -15, 0), count.topLeft() + QPoint(2, 2)),
              3.0);
}

TEST_F(FolderListViewTest, TheSymbolOfTheSelectedRowStandsOutOnItsBar)
{
    makeSidebar(0);
    FolderSidebarModel& model = sidebar->sidebarModel();
    const QModelIndex all = model.index(model.rowOf(FolderSection::all()));
    list->selectionModel()->select(all, QItemSelectionModel::ClearAndSelect);
    QApplication::processEvents();
    const QImage image = list->viewport()->grab().toImage();
    const QRect row = list->visualRect(all);
    const QRect symbol(row.left() + 18, row.center().y() - 7, 16, 16);
    EXPECT_GE(paintedContrast(image, symbol, QPoint(row.left() + 13, row.center().y())), 3.0);
}

TEST_F(FolderListViewTest, SelectingASectionSetsTheListFilters)
{
    makeSidebar(1);
    const Folder smart = *folders->addFolder(QStringLiteral("Smart"), true, QStringLiteral("shot"));
    struct Case {
        FolderSection section;
        std::optional<FolderSection> period;
        std::optional<Folder> folder;
    };
    for (const Case& c : {Case{FolderSection::today(), FolderSection::today(), std::nullopt},
                          Case{FolderSection::list(smart), std::nullopt, smart},
                          Case{FolderSection::lastWeek(), FolderSection::lastWeek(), std::nullopt},
                          Case{FolderSection::all(), std::nullopt, std::nullopt}}) {
        SCOPED_TRACE(c.section.id().toStdString());
        // Clicking the row is what a user does.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, centreOf(c.section));
        EXPECT_EQ(selection.section(), c.section);
        EXPECT_EQ(screenshots->timePeriod(), c.period);
        EXPECT_EQ(screenshots->folderFilter(), c.folder);
    }
    // Headers cannot be selected.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(sidebar->sidebarModel().index(0)).center());
    EXPECT_EQ(selection.section(), FolderSection::all());
}

TEST_F(FolderListViewTest, NewFolderRenameReorderAndDelete)
{
    makeSidebar(1);
    QToolButton* button = newFolderButton();
    ASSERT_TRUE(button);
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(folders->folders().size(), 2);
    const Folder first = folders->folders()[0];
    const Folder second = folders->folders()[1];
    EXPECT_EQ(second.name, "New Folder");
    EXPECT_FALSE(second.isSmartFolder);
    EXPECT_EQ(selection.section(), FolderSection::list(second));
    // The new folder's name is open for typing, all of it selected, also once the rows' counts have come in;
    // what is typed replaces it, and every keystroke is written through to the database.
    QLineEdit* editor = testing::controlNamed<QLineEdit>(sidebar.get(), QStringLiteral("Folder name"));
    ASSERT_TRUE(editor);
    waitForCounts();
    EXPECT_EQ(editor->selectedText(), "New Folder");
    QTest::keyClicks(editor, QStringLiteral("Receipts"));
    EXPECT_EQ(folders->loadFolders()[1].name, "Receipts");
    editor->setCursorPosition(0);
    waitForCounts();
    QTest::keyClicks(editor, QStringLiteral("My "));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(folders->loadFolders()[1].name, "My Receipts");
    // Escape brings back, and stores, the name the folder had when the rename began.
    ASSERT_TRUE(testing::processEventsUntil([&] { return !sidebar->isEditingFolderName(); }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the closed editor
    sidebar->renameFolder(folders->folders()[1]);
    editor = testing::controlNamed<QLineEdit>(sidebar.get(), QStringLiteral("Folder name"));
    ASSERT_TRUE(editor);
    QTest::keyClick(editor, Qt::Key_Delete);
    QTest::keyClicks(editor, QStringLiteral("Taxes"));
    EXPECT_EQ(folders->loadFolders()[1].name, "Taxes");
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_EQ(folders->loadFolders()[1].name, "My Receipts");
    EXPECT_FALSE(sidebar->isEditingFolderName());

    // An empty name is kept.
    FolderSidebarModel& model = sidebar->sidebarModel();
    ASSERT_TRUE(model.setData(model.index(model.rowOf(FolderSection::list(first))), QStringLiteral("Receipts")));
    ASSERT_TRUE(model.setData(model.index(model.rowOf(FolderSection::list(second))), QString()));
    EXPECT_EQ(folders->loadFolders()[0].name, "Receipts");
    EXPECT_EQ(folders->loadFolders()[1].name, "");

    sidebar->moveFolders({1}, 0);
    const QList<Folder> moved = folders->loadFolders();
    ASSERT_EQ(moved.size(), 2);
    EXPECT_EQ(moved[0].id, second.id);
    EXPECT_EQ(moved[0].sort_order, 0);
    EXPECT_EQ(moved[1].id, first.id);
    EXPECT_EQ(moved[1].sort_order, 1);

    sidebar->deleteFolder(first);
    ASSERT_TRUE(testing::processEventsUntil([&] { return folders->folders().size() == 1; }));
    EXPECT_EQ(folders->loadFolders().size(), 1);
}

TEST_F(FolderListViewTest, DeletingTheSelectedFolderSelectsAll)
{
    makeSidebar(1);
    sidebar->addNewFolder();
    const Folder folder = folders->folders().first();
    ASSERT_EQ(screenshots->folderFilter(), folder);

    sidebar->deleteFolder(folder);
    ASSERT_TRUE(testing::processEventsUntil([&] { return folders->folders().isEmpty(); }));
    EXPECT_EQ(selection.section(), FolderSection::all());
    EXPECT_EQ(screenshots->folderFilter(), std::nullopt);
    // A folder that is gone already: nothing happens.
    sidebar->deleteFolder(folder);
    QCoreApplication::processEvents();
    EXPECT_EQ(selection.section(), FolderSection::all());
}

TEST_F(FolderListViewTest, ContextMenuOffersEditOnlyForSmartFolders)
{
    makeSidebar(0);
    folders->addFolder(QStringLiteral("Plain"), false, QString());
    const Folder smart = *folders->addFolder(QStringLiteral("Smart"), true, std::nullopt);
    struct Case {
        int row;
        QStringList items;
    };
    QMenu* menu = nullptr;
    for (const Case& c : {Case{6, {"Rename Folder", "Delete Folder"}},
                          Case{7, {"Rename Folder", "Delete Folder", "", "Edit Smart Folder"}}}) {
        const QPoint at = list->visualRect(sidebar->sidebarModel().index(c.row)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list->viewport(), &event);
        menu = testing::openMenu();
        ASSERT_NE(menu, nullptr);
        QStringList items;
        for (QAction* action : menu->actions()) {
            items << action->text();
        }
        EXPECT_EQ(items, c.items);
    }
    // "Edit Smart Folder" on a folder without keywords opens the sheet with empty keywords.
    menu->actions().last()->trigger();
    auto* sheet = testing::controlNamed<SmartFolderSheet>(sidebar.get(), QStringLiteral("Edit Smart Folder"));
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->keywords(), "");
    const QLineEdit* name = testing::controlNamed<QLineEdit>(sheet, QStringLiteral("Name"));
    ASSERT_TRUE(name);
    EXPECT_EQ(name->text(), smart.name);
}

TEST_F(FolderListViewTest, DroppingAScreenshotFilesItInOneFolderOrNone)
{
    makeSidebar(2);
    const Folder a = *folders->addFolder(QStringLiteral("A"), false, QString());
    const Folder b = *folders->addFolder(QStringLiteral("B"), false, QString());
    const Folder smart = *folders->addFolder(QStringLiteral("Smart"), true, QStringLiteral("shot"));
    const ScreenshotPtr screenshot = screenshots->screenshots().first();

    EXPECT_TRUE(dropScreenshot(screenshot, centreOf(FolderSection::list(a))));
    EXPECT_EQ(highlightDuringDrag, FolderSection::list(a));
    EXPECT_EQ(sidebar->dragOverFolderSection(), std::nullopt);
    EXPECT_THAT(linksOf(screenshot->id()), ::testing::ElementsAre(std::to_string(a.id)));

    EXPECT_TRUE(dropScreenshot(screenshot, centreOf(FolderSection::list(b))));
    EXPECT_THAT(linksOf(screenshot->id()), ::testing::ElementsAre(std::to_string(b.id)));
    waitForCounts();
    EXPECT_EQ(countShown(FolderSection::list(b)), 1);
    EXPECT_EQ(countShown(FolderSection::list(a)), 0);

    // Neither a period nor a smart folder takes a screenshot.
    EXPECT_FALSE(dropScreenshot(screenshot, centreOf(FolderSection::today())));
    EXPECT_FALSE(dropScreenshot(screenshot, centreOf(FolderSection::list(smart))));
    EXPECT_THAT(linksOf(screenshot->id()), ::testing::ElementsAre(std::to_string(b.id)));

    // The list shown is loaded again: filed out of the folder it shows, the screenshot leaves it.
    screenshots->setFolderFilter(b);
    ASSERT_TRUE(testing::processEventsUntil([&] { return screenshots->screenshots().size() == 1; }));
    EXPECT_TRUE(dropScreenshot(screenshot, centreOf(FolderSection::all())));
    EXPECT_THAT(linksOf(screenshot->id()), ::testing::IsEmpty());
    EXPECT_TRUE(testing::processEventsUntil([&] { return screenshots->screenshots().isEmpty(); }));
}

TEST_F(FolderListViewTest, AScreenshotDraggedInSmallStepsAcrossRowsThatTakeNothingIsDroppedOnTheFolder)
{
    makeSidebar(1);
    const Folder folder = *folders->addFolder(QStringLiteral("Receipts"), false, QString());
    const ScreenshotPtr screenshot = screenshots->screenshots().first();
    // The sidebar with, on its right, the list the drag comes from, in one window as in the main window.
    window = std::make_unique<QWidget>();
    auto* layout = new QHBoxLayout(window.get());
    sidebar->setParent(window.get());
    layout->addWidget(sidebar.get());
    auto* source = new QWidget;
    source->setMinimumSize(300, 600);
    layout->addWidget(source);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    // The window system's drag hands the window an enter and then a move for each step of the pointer, as a
    // hand moves it: 15 pixels at a time, from a row of the list, in over "Today", to the folder.
    QWindow* handle = window->windowHandle();
    ASSERT_TRUE(handle);
    const auto inWindow = [&](QWidget* widget, QPoint point) { return widget->mapTo(window.get(), point); };
    const QPoint today = inWindow(list->viewport(), centreOf(FolderSection::today()));
    const QPoint from(inWindow(source, QPoint(150, 0)).x(), today.y());
    const QPoint to = inWindow(list->viewport(), centreOf(FolderSection::list(folder)));
    bool accepted = false;
    std::optional<FolderSection> highlighted;
    DragManager::shared().setDragRunner([&](QDrag& drag) {
        const QMimeData* data = drag.mimeData();
        QDragEnterEvent enter(from, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &enter);
        QPoint at = from;
        for (const QPoint waypoint : {today, to}) {
            while (at != waypoint) {
                const QPoint delta = waypoint - at;
                const double length = std::hypot(delta.x(), delta.y());
                at = length <= 15 ? waypoint : at + (QPointF(delta) * (15 / length)).toPoint();
                QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
                QCoreApplication::sendEvent(handle, &move);
            }
        }
        highlighted = sidebar->dragOverFolderSection();
        QDropEvent drop(to, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(handle, &drop);
        accepted = drop.isAccepted();
        return accepted ? Qt::CopyAction : Qt::IgnoreAction;
    });
    QWidget dragSource;
    DragManager::shared().beginDrag(&dragSource, screenshot, QImage());
    EXPECT_EQ(highlighted, FolderSection::list(folder));
    EXPECT_TRUE(accepted);
    EXPECT_THAT(linksOf(screenshot->id()), ::testing::ElementsAre(std::to_string(folder.id)));
}

TEST_F(FolderListViewTest, ForeignDragsAndDropsAfterTheDragEndedAreRefused)
{
    makeSidebar(1);
    const Folder a = *folders->addFolder(QStringLiteral("A"), false, QString());
    const ScreenshotPtr screenshot = screenshots->screenshots().first();

    // Another process dragging the private type, and a file dropped from the file manager.
    QMimeData foreign;
    foreign.setData(screenshotDragType, QByteArrayLiteral("Screenshot"));
    EXPECT_FALSE(dropScreenshot(screenshot, centreOf(FolderSection::list(a)), &foreign));
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/picture.png"))});
    EXPECT_FALSE(dropScreenshot(screenshot, centreOf(FolderSection::list(a)), &file));

    // The drag is over: a late drop of its data files nothing.
    std::unique_ptr<QMimeData> stale(makeScreenshotMimeData());
    QDropEvent late(centreOf(FolderSection::list(a)), Qt::CopyAction, stale.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &late);
    EXPECT_FALSE(late.isAccepted());
    EXPECT_FALSE(sidebar->dropOnFolder(a));
    EXPECT_THAT(linksOf(screenshot->id()), ::testing::IsEmpty());
}

} // namespace
} // namespace lumetrove
