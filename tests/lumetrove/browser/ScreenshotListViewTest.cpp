#include "lumetrove/browser/ScreenshotListView.h"

#include "lumetrove/browser/DragManager.h"
#include "lumetrove/browser/ScreenshotListModel.h"
#include "lumetrove/browser/ScreenshotPreviewWindow.h"
#include "lumetrove/browser/ScreenshotRowDelegate.h"
#include "lumetrove/browser/ThumbnailCache.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/browser/BrowserTest.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QBuffer>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QWheelEvent>
#include <functional>

namespace lumetrove {
namespace {

class ScreenshotListViewTest : public testing::BrowserTest {
protected:
    /// Puts the view in `window` below the window's own controls and shows the window active; the view goes
    /// back to the fixture when the guard returned goes.
    [[nodiscard]] auto placeViewIn(QWidget& window)
    {
        view->setParent(&window);
        view->move(0, 40);
        window.resize(700, 540);
        window.show();
        window.activateWindow();
        return qScopeGuard([this] { view->setParent(nullptr); });
    }

    void makeView(int count)
    {
        makeLibrary(count);
        view = std::make_unique<ScreenshotListView>(*screenshots, selection);
        view->resize(700, 500);
        view->show();
    }

    QPoint rowCentre(int row) const { return view->visualRect(view->listModel().index(row)).center(); }

    void TearDown() override
    {
        view.reset();
        testing::BrowserTest::TearDown();
    }

    std::unique_ptr<ScreenshotListView> view;
};

TEST_F(ScreenshotListViewTest, ModelFollowsTheListAndPassesTheModelTester)
{
    makeView(3);
    QAbstractItemModelTester tester(&view->listModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(view->listModel().rowCount(), 3);
    EXPECT_EQ(view->listModel().index(0).data().toString(), "shot 3");

    screenshots->setSearchFilter(QStringLiteral("shot 2"));
    waitForListSize(1);
    EXPECT_EQ(view->listModel().rowCount(), 1);
    EXPECT_EQ(view->listModel().index(0).data(ScreenshotListModel::ScreenshotRole).value<ScreenshotPtr>()->id(),
              ids[1]);

    // A shown row repaints when its screenshot changes.
    view->listModel().index(0).data();
    QSignalSpy changed(&view->listModel(), &QAbstractItemModel::dataChanged);
    screenshots->screenshots().first()->setUnconfirmedAIName(QStringLiteral("AI name"));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(view->listModel().index(0).data().toString(), "AI name");
}

TEST_F(ScreenshotListViewTest, ARowShowsTheStartOfItsTextWhichTheListReadsOnlyForTheRowsShown)
{
    // More rows than the list reads text starts for with itself.
    const int count = int(ScreenshotsListManager::firstPageRows) + 700;
    store->db()->transaction([&] {
        const auto insert = store->db()->prepare("INSERT INTO screenshots (name, path, text, description, "
                                                 "was_imported) VALUES (?, ?, ?, ?, 0)");
        for (int index = 1; index <= count; ++index) {
            const std::optional<std::string> description =
                index % 7 == 0 ? std::optional<std::string>("described " + std::to_string(index)) : std::nullopt;
            insert->runToEnd("shot " + std::to_string(index), "file:///tmp/shot.png",
                             "text of " + std::to_string(index) + std::string(1000, 'x'), description);
        }
    });
    screenshots = std::make_unique<ScreenshotsListManager>(store);
    testing::waitForList(*screenshots);
    view = std::make_unique<ScreenshotListView>(*screenshots, selection);
    view->resize(700, 500);
    view->show();
    const ScreenshotListModel& model = view->listModel();
    const auto description = [&](int row) {
        return model.index(row).data(ScreenshotListModel::DescriptionRole).toString();
    };
    const auto expected = [&](int row) {
        const int index = count - row;
        return index % 7 == 0
                   ? QString("described %1").arg(index)
                   : (QString("text of %1").arg(index) + QString(1000, 'x')).left(screenshotTextSnippetLength);
    };
    EXPECT_EQ(description(0), expected(0)); // read with the list
    EXPECT_EQ(description(1), expected(1));

    // A row far down has none until it is shown; then it and the rows around it are read, and told.
    const int far = count - 100;
    EXPECT_EQ(screenshots->listedTextSnippet(screenshots->screenshots().row(far).id), std::nullopt);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    EXPECT_EQ(description(far), QString());
    ASSERT_TRUE(testing::processEventsUntil([&] { return description(far) == expected(far); }));
    EXPECT_TRUE(std::any_of(changed.cbegin(), changed.cend(), [&](const QList<QVariant>& change) {
        return change.at(0).value<QModelIndex>().row() <= far && change.at(1).value<QModelIndex>().row() >= far;
    })) << "the row was not told";
    for (int row = far - 20; row < count; ++row) {
        EXPECT_EQ(description(row), expected(row)) << "row " << row;
    }
    // Rows far from those shown hold nothing.
    const int between = int(ScreenshotsListManager::firstPageRows) + 100;
    EXPECT_EQ(screenshots->listedTextSnippet(screenshots->screenshots().row(between).id), std::nullopt);
}

TEST_F(ScreenshotListViewTest, ANameWithALineBreakIsDrawnOnItsOneLineAsWithABlank)
{
    // An imported file's name may hold a line break; its row must look like the same name with a blank. The
    // newest row above them takes the selection, so the two compared rows are drawn alike.
    store->db()->transaction([&] {
        const auto insert = store->db()->prepare("INSERT INTO screenshots (name, path, text, was_imported, "
                                                 "created_at) VALUES (?, 'file:///tmp/shot.png', '', 1, "
                                                 "'2024-05-01 10:00:00')");
        for (const char* name : {"two words", "two\nwords", "selected"}) {
            insert->runToEnd(std::string(name));
        }
    });
    screenshots = std::make_unique<ScreenshotsListManager>(store);
    testing::waitForList(*screenshots);
    view = std::make_unique<ScreenshotListView>(*screenshots, selection);
    view->resize(700, 900);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    view->thumbnails().waitForLoads();
    const QImage shown = view->viewport()->grab().toImage();
    const auto card = [&](int row) {
        const QRect rect = view->visualRect(view->listModel().index(row));
        const qreal ratio = shown.devicePixelRatio();
        return shown.copy(QRect(rect.topLeft() * ratio, rect.size() * ratio));
    };
    ASSERT_EQ(view->listModel().index(1).data().toString(), "two\nwords");
    EXPECT_TRUE(card(1) == card(2)) << "the name with a line break is drawn otherwise than with a blank";
}

TEST_F(ScreenshotListViewTest, NewRemovedAndChangedRowsAreToldInPlaceAndTheSelectedRowAndTheRowsOnScreenStay)
{
    makeView(60);
    QAbstractItemModelTester tester(&view->listModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    ScreenshotListModel& model = view->listModel();
    view->scrollTo(model.index(40), QAbstractItemView::PositionAtTop);
    const ScreenshotPtr chosen = screenshots->screenshots().at(45);
    view->selectScreenshot(chosen);
    const auto topId = [&] { return view->indexAt(QPoint(1, 1)).data(ScreenshotListModel::IdRole).toLongLong(); };
    const qint64 top = topId();
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    addScreenshot(*store, QStringLiteral("new"));
    screenshots->reload();
    waitForListSize(61);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 0);
    EXPECT_EQ(selection.selectionIndex(), 46);

    screenshots->deleteScreenshots({2, 3});
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed.at(0).at(1).toInt(), 2);
    EXPECT_EQ(removed.at(0).at(2).toInt(), 3);
    EXPECT_EQ(selection.selectionIndex(), 44);

    screenshots->setRecognizedText(chosen->id(), QStringLiteral("words at last"));
    ASSERT_TRUE(testing::processEventsUntil([&] { return !changed.isEmpty(); }));
    EXPECT_EQ(model.index(44).data(ScreenshotListModel::IdRole).toLongLong(), chosen->id());

    EXPECT_EQ(resets.size(), 0);
    EXPECT_EQ(selection.selectedScreenshot(), chosen);
    EXPECT_EQ(topId(), top);
    for (int row = 0; row < model.rowCount(); ++row) {
        EXPECT_EQ(model.index(row).data(ScreenshotListModel::IdRole).toLongLong(),
                  screenshots->screenshots().row(row).id);
    }
}

/// The parts of a widget its paint events covered.
class PaintedRegion : public QObject {
public:
    explicit PaintedRegion(QWidget& widget) { widget.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            region += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
    QRegion region;
    int paints = 0;
};

TEST_F(ScreenshotListViewTest, RowsThatComeGoOrChangeRepaintOnlyWhatChangedAndTheWindowShowsTheListAsItIs)
{
    makeView(60);
    view->resize(700, 900);
    QWidget* viewport = view->viewport();
    PaintedRegion painted(*viewport);
    // Until the window has painted what was marked and no thumbnail is on its way: two quiet turns.
    const auto settle = [&] {
        for (int quiet = 0, turns = 0; quiet < 2 && turns < 100; ++turns) {
            const int before = painted.paints;
            view->thumbnails().waitForLoads();
            QTest::qWait(25);
            quiet = painted.paints == before ? quiet + 1 : 0;
        }
    };
    // What the window holds of the rows, against the rows painted afresh.
    const auto onScreen = [&] {
        const QPoint at = viewport->mapTo(view.get(), QPoint(0, 0));
        return view->screen()
            ->grabWindow(view->winId(), at.x(), at.y(), viewport->width(), viewport->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    const auto showsTheList = [&] {
        const QImage shown = onScreen();
        return !shown.isNull() && shown == viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    // What the window shows of the scroll bar against a plain one set as it is.
    const auto showsAScrollBar = [&] {
        QScrollBar* bar = view->verticalScrollBar();
        QScrollBar plain(Qt::Vertical, view.get());
        plain.hide();
        plain.resize(bar->size());
        plain.setRange(bar->minimum(), bar->maximum());
        plain.setPageStep(bar->pageStep());
        plain.setValue(bar->value());
        const QPoint at = bar->mapTo(view.get(), QPoint(0, 0));
        const QImage shown = view->screen()
                                 ->grabWindow(view->winId(), at.x(), at.y(), bar->width(), bar->height())
                                 .toImage()
                                 .convertToFormat(QImage::Format_RGB32);
        return !shown.isNull() && shown == plain.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto rowRect = [&](int row) { return view->visualRect(view->listModel().index(row)); };
    // A capture is handed to the list manager, which lists it and writes its thumbnail.
    const auto capture = [&](int listed) {
        CapturedScreenshotInfo info;
        QImage thumbnail(200, 140, QImage::Format_RGB32);
        thumbnail.fill(Qt::red);
        QBuffer png(&info.thumbnail.emplace());
        ASSERT_TRUE(png.open(QIODevice::WriteOnly) && thumbnail.save(&png, "PNG"));
        info.screenshotFilename = QStringLiteral("captured %1.png").arg(listed);
        const QString file = libraryDirectory() + QLatin1Char('/') + info.screenshotFilename;
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::gray);
        ASSERT_TRUE(image.save(file, "PNG"));
        info.screenshotPath = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
        screenshots->addScreenshot(info, false);
        waitForListSize(listed);
    };
    settle();
    ASSERT_TRUE(showsTheList());
    ASSERT_TRUE(showsAScrollBar());

    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::function<void()> change;
        /// Where painting may happen, after the change.
        std::function<QRect()> allowed;
    };
    const int height = view->rowHeight();
    const std::vector<Case> cases{
        {"a new row at the top of a list at its top moves the rows and paints itself, then its thumbnail", [] {},
         [&] {
             capture(61);
             const QPoint frame = screenshotRowGeometry(rowRect(0)).thumbnailFrame.center();
             EXPECT_TRUE(testing::processEventsUntil([&] { return onScreen().pixelColor(frame) == Qt::red; }));
         },
         [&] { return rowRect(0); }},
        {"a new row above the rows on screen paints nothing",
         [&] { view->scrollTo(view->listModel().index(30), QAbstractItemView::PositionAtTop); }, [&] { capture(62); },
         [&] { return QRect(); }},
        {"rows that go from the screen uncover the rows below, which alone paint", [] {},
         [&] {
             screenshots->deleteScreenshots({32, 33});
         },
         [&] { return QRect(0, viewport->height() - 2 * height, viewport->width(), 2 * height); }},
        {"rows that go below the screen paint nothing", [] {},
         [&] {
             screenshots->deleteScreenshots({55, 56});
         },
         [&] { return QRect(); }},
        {"a row being analysed pulses alone", [] {},
         [&] {
             const ScreenshotPtr analysed = view->listModel().screenshotAt(31);
             analysed->setCurrentlyAIProcessing(true);
             QTest::qWait(200);
             analysed->setCurrentlyAIProcessing(false);
         },
         [&] { return rowRect(31); }},
        {"a row that changes repaints itself", [] {},
         [&] {
             screenshots->setRecognizedText(screenshots->screenshots().row(31).id, QStringLiteral("other words"));
             ASSERT_TRUE(testing::processEventsUntil([&] {
                 return view->listModel().index(31).data(ScreenshotListModel::DescriptionRole) == "other words";
             }));
         },
         [&] { return rowRect(31); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        settle();
        const qint64 top = view->indexAt(QPoint(1, 1)).data(ScreenshotListModel::IdRole).toLongLong();
        painted.region = QRegion();
        QSignalSpy told(&view->listModel(), &QAbstractItemModel::dataChanged);
        c.change();
        settle();
        const QRegion paintedRegion = painted.region;
        // Rows the model tells of as changed (a record let go of by the manager) repaint as well.
        QRegion allowed(c.allowed());
        for (const QList<QVariant>& signal : told) {
            allowed += rowRect(signal.at(0).toModelIndex().row());
        }
        const QRect outside = (paintedRegion - allowed).boundingRect();
        EXPECT_TRUE(outside.isEmpty()) << "painted outside " << outside.y() << "+" << outside.height();
        EXPECT_TRUE(showsTheList());
        EXPECT_TRUE(showsAScrollBar());
        if (view->verticalScrollBar()->value() > 0) {
            EXPECT_EQ(view->indexAt(QPoint(1, 1)).data(ScreenshotListModel::IdRole).toLongLong(), top);
        }
    }
}

TEST_F(ScreenshotListViewTest, PageKeysTheWheelAndAScreenReaderFindTheRowsWherePainted)
{
    makeView(40);
    view->resize(700, 900);
    view->setCurrentIndex(view->listModel().index(0));
    QScrollBar* bar = view->verticalScrollBar();
    const int height = view->rowHeight();
    ASSERT_GT(height, 0);
    EXPECT_EQ(bar->maximum(), 40 * height - view->viewport()->height());

    QTest::keyClick(view.get(), Qt::Key_End);
    EXPECT_EQ(bar->value(), bar->maximum());
    QTest::keyClick(view.get(), Qt::Key_Home);
    EXPECT_EQ(bar->value(), 0);
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    // Two pages of whole rows, the current row then shown at the bottom.
    const int page = view->viewport()->height() / height;
    EXPECT_EQ(view->currentIndex().row(), 2 * page);
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(view->currentIndex())));
    // The keys scroll and leave the selection alone.
    EXPECT_EQ(selection.selectionIndex(), 0);

    const int before = bar->value();
    QWheelEvent wheel(QPointF(100, 100), view->viewport()->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_EQ(bar->value(), before + QApplication::wheelScrollLines() * height);

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view.get());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->childCount(), 40);
    const int shown = view->indexAt(QPoint(1, 1)).row() + 1;
    const QPoint centre = view->viewport()->mapToGlobal(rowCentre(shown));
    QAccessibleInterface* row = list->childAt(centre.x(), centre.y());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(QAccessible::Name), view->listModel().index(shown).data().toString());
    EXPECT_TRUE(row->rect().contains(centre));
}

TEST_F(ScreenshotListViewTest, ComingOnScreenSelectsTheFirstScreenshot)
{
    makeView(4);
    EXPECT_TRUE(view->keyMonitorInstalled());
    EXPECT_EQ(selection.selectionIndex(), 0);
    EXPECT_EQ(selection.selectedScreenshot(), screenshots->screenshots().first());
    view->hide();
    EXPECT_FALSE(view->keyMonitorInstalled());
}

TEST_F(ScreenshotListViewTest, ArrowKeysMoveTheSelectionFromAnyControlAndStopAtTheEnds)
{
    makeView(10);
    QLineEdit searchField;
    searchField.setText(QStringLiteral("abc"));
    searchField.show();
    searchField.setCursorPosition(1);

    struct Case {
        int from;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int expected;
    };
    for (const Case& c : {Case{0, Qt::Key_Down, Qt::NoModifier, 1}, Case{5, Qt::Key_Up, Qt::NoModifier, 4},
                          Case{0, Qt::Key_Up, Qt::NoModifier, 0}, Case{9, Qt::Key_Down, Qt::NoModifier, 9},
                          Case{3, Qt::Key_Down, Qt::ShiftModifier, 4},
                          // An index left beyond the end of a list that shrank is never read.
                          Case{15, Qt::Key_Down, Qt::NoModifier, 15}, Case{15, Qt::Key_Up, Qt::NoModifier, 9}}) {
        SCOPED_TRACE(::testing::Message() << c.from << " key " << c.key);
        selection.setSelectionIndex(c.from);
        QTest::keyClick(&searchField, c.key, c.modifiers);
        EXPECT_EQ(selection.selectionIndex(), c.expected);
        if (c.expected != c.from) {
            EXPECT_EQ(selection.selectedScreenshot(), screenshots->screenshots().at(c.expected));
        }
        // The caret never saw the key.
        EXPECT_EQ(searchField.cursorPosition(), 1);
    }
    // Every other key reaches the focused control.
    QTest::keyClick(&searchField, Qt::Key_X);
    EXPECT_EQ(searchField.text(), "axbc");
}

TEST_F(ScreenshotListViewTest, MultiLineTextFieldsKeepTheirUpAndDownAndTabReachesTheList)
{
    makeView(10);
    selection.setSelectionIndex(3);
    QPlainTextEdit editor;
    editor.setPlainText(QStringLiteral("first line\nsecond line\nthird line"));
    editor.show();
    QTextCursor cursor = editor.textCursor();
    cursor.movePosition(QTextCursor::Start);
    editor.setTextCursor(cursor);
    QTest::keyClick(&editor, Qt::Key_Down);
    QTest::keyClick(&editor, Qt::Key_Down);
    EXPECT_EQ(editor.textCursor().blockNumber(), 2);
    QTest::keyClick(&editor, Qt::Key_Up);
    EXPECT_EQ(editor.textCursor().blockNumber(), 1);
    EXPECT_EQ(selection.selectionIndex(), 3);

    // A read-only text the keyboard can select in (the summary) keeps them too; one it cannot does not.
    QTextEdit summary;
    summary.setPlainText(QStringLiteral("one\ntwo"));
    summary.setReadOnly(true);
    summary.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    summary.show();
    QTest::keyClick(&summary, Qt::Key_Down);
    EXPECT_EQ(selection.selectionIndex(), 3);
    summary.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QTest::keyClick(&summary, Qt::Key_Down);
    EXPECT_EQ(selection.selectionIndex(), 4);

    // Tab moves on from a field beside the list to the list, as through any window's controls.
    QWidget window;
    auto* field = new QLineEdit(&window);
    const auto giveBack = placeViewIn(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_TRUE(view->hasFocus());
}

TEST_F(ScreenshotListViewTest, ThreeDownsSelectTheFourthRowAndCentreIt)
{
    makeView(10);
    view->resize(700, 400);
    QTest::keyClick(view.get(), Qt::Key_Down);
    QTest::keyClick(view.get(), Qt::Key_Down);
    QTest::keyClick(view.get(), Qt::Key_Down);
    EXPECT_EQ(selection.selectionIndex(), 3);
    EXPECT_FALSE(view->scrollTriggeredByKeyboard());
    const QRect row = view->visualRect(view->listModel().index(3));
    EXPECT_NEAR(row.center().y(), view->viewport()->rect().center().y(), 2);

    // A click in the middle of the list changes the selection without scrolling.
    const int scrolled = view->verticalScrollBar()->value();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(2));
    EXPECT_EQ(selection.selectionIndex(), 2);
    EXPECT_EQ(view->verticalScrollBar()->value(), scrolled);
}

TEST_F(ScreenshotListViewTest, SpaceOpensThePreviewWhichFollowsTheSelectionUntilAFilterChange)
{
    makeView(3);
    selection.setSelectionIndex(1);
    view->showQuickLook();
    auto* preview = testing::controlNamed<ScreenshotPreviewWindow>(view.get(), QStringLiteral("Preview"));
    ASSERT_TRUE(preview);
    EXPECT_EQ(view->quickLookPreviewUrl(), screenshots->screenshots().at(1)->imageUrl());

    QTest::keyClick(view.get(), Qt::Key_Down);
    EXPECT_EQ(preview->url(), screenshots->screenshots().at(2)->imageUrl());

    screenshots->setFolderFilter(std::nullopt);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !view->quickLookPreviewUrl().has_value(); }));
    EXPECT_FALSE(preview->isVisible());
    EXPECT_EQ(selection.selectionIndex(), 0);
    EXPECT_EQ(selection.selectedScreenshot(), screenshots->screenshots().first());

    // Space on a stale index opens nothing.
    selection.setSelectionIndex(7);
    view->showQuickLook();
    EXPECT_FALSE(view->quickLookPreviewUrl().has_value());
}

TEST_F(ScreenshotListViewTest, SpaceOnAButtonWithTheKeyboardPressesItInsteadOfOpeningThePreview)
{
    makeView(3);
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("Process With AI"), &window);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    const auto giveBack = placeViewIn(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(view->quickLookPreviewUrl().has_value());

    // Anywhere else in the window Space is the preview's.
    view->setFocus();
    QTest::keyClick(view.get(), Qt::Key_Space);
    EXPECT_EQ(view->quickLookPreviewUrl(), screenshots->screenshots().at(0)->imageUrl());
    EXPECT_EQ(clicks, 1);
}

TEST_F(ScreenshotListViewTest, ClicksSelectOpenAndOfferDeleteAndShowInFolder)
{
    makeView(3);
    testing::UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");

    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(2));
    EXPECT_EQ(selection.selectionIndex(), 2);
    EXPECT_EQ(selection.selectedScreenshot(), screenshots->screenshots().at(2));

    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(1));
    EXPECT_EQ(recorder.urls, QList<QUrl>{*screenshots->screenshots().at(1)->imageUrl()});
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, rowCentre(0), view->viewport()->mapToGlobal(rowCentre(0)));
    QCoreApplication::sendEvent(view->viewport(), &rightClick);
    EXPECT_EQ(selection.selectedScreenshot(), screenshots->screenshots().at(0));
    QMenu* menu = testing::openMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), "Delete");
    EXPECT_EQ(actions[1]->text(), "Show in Folder");

    int deletes = 0;
    QObject context;
    NotificationCenter::defaultCenter().addObserver(QStringLiteral("deleteSelectedScreenshot"), &context,
                                                    [&](const Notification&) { ++deletes; });
    actions[0]->trigger();
    EXPECT_EQ(deletes, 1);
}

TEST_F(ScreenshotListViewTest, DraggingARowBeginsAtFiftyPixelsWithThatRowsScreenshot)
{
    makeView(3);
    ScreenshotPtr dragged;
    int drags = 0;
    DragManager::shared().setDragRunner([&](QDrag&) {
        ++drags;
        dragged = DragManager::shared().draggedScreenshot();
        return Qt::IgnoreAction;
    });
    const QPoint start = rowCentre(1);
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, start);
    QMouseEvent near(QEvent::MouseMove, start + QPoint(30, 39), view->viewport()->mapToGlobal(start + QPoint(30, 39)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &near);
    EXPECT_EQ(drags, 0);
    QMouseEvent far(QEvent::MouseMove, start + QPoint(30, 40), view->viewport()->mapToGlobal(start + QPoint(30, 40)),
                    Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &far);
    QCoreApplication::sendEvent(view->viewport(), &far);
    DragManager::shared().setDragRunner(nullptr);
    EXPECT_EQ(drags, 1);
    EXPECT_EQ(dragged, screenshots->screenshots().at(1));
    EXPECT_EQ(DragManager::shared().draggedScreenshot(), nullptr);
}

TEST_F(ScreenshotListViewTest, TheRowShowsItsThumbnailUnderATransparentMouseSurface)
{
    makeView(2);
    ASSERT_TRUE(testing::processEventsUntil([&] {
        view->viewport()->repaint();
        view->thumbnails().waitForLoads();
        QCoreApplication::processEvents();
        return !view->thumbnails().thumbnail(ids[0]).isNull();
    }));
    const QImage shown = view->viewport()->grab().toImage();
    const QRect frame = screenshotRowGeometry(view->visualRect(view->listModel().index(0))).thumbnailFrame;
    EXPECT_EQ(shown.pixelColor(frame.center()), QColor(Qt::blue));
    EXPECT_EQ(shown.pixelColor(frame.topLeft() + QPoint(20, 20)), QColor(Qt::blue));
    // Off the screen (the window closed to the tray) the decoded thumbnails are let go of.
    view->window()->hide();
    EXPECT_TRUE(view->thumbnails().thumbnail(ids[0]).isNull());
}

TEST_F(ScreenshotListViewTest, AThumbnailDrawnAgainInTheBackgroundShowsOnceTheManagerTellsOfIt)
{
    makeView(2);
    const auto firstRowShows = [&](QColor color) {
        return testing::processEventsUntil([&] {
            view->viewport()->repaint();
            view->thumbnails().waitForLoads();
            QCoreApplication::processEvents();
            const QRect frame = screenshotRowGeometry(view->visualRect(view->listModel().index(0))).thumbnailFrame;
            return view->viewport()->grab().toImage().pixelColor(frame.center()) == color;
        });
    };
    ASSERT_TRUE(firstRowShows(Qt::blue));
    // Written again while the list stays as it is (no reload publishes it anew).
    QImage redrawn(200, 140, QImage::Format_ARGB32);
    redrawn.fill(Qt::red);
    ASSERT_TRUE(redrawn.save(*thumbnailFilePath(ids[0]), "PNG"));
    QFile file(*thumbnailFilePath(ids[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    file.close();
    screenshots->thumbnailsRedrawn();
    EXPECT_TRUE(firstRowShows(Qt::red));
}

} // namespace
} // namespace lumetrove
