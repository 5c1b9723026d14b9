#include "lumetrove/app/ContentView.h"

#include "lumetrove/app/AppState.h"
#include "lumetrove/app/AssistantActions.h"
#include "lumetrove/app/FirstLaunchChecker.h"
#include "lumetrove/app/LumetroveApp.h"
#include "lumetrove/app/ProblemBar.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/browser/FolderSidebarModel.h"
#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/browser/ScreenshotListModel.h"
#include "lumetrove/browser/ScreenshotListView.h"
#include "lumetrove/browser/ScreenshotRowDelegate.h"
#include "lumetrove/detail/ScreenshotDetailView.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/NewImageJournal.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "lumetrove/platform/UserDefaults.h"
#include "lumetrove/views/SettingsViewModel.h"
#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QDBusConnection>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPromise>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

using testing::processEventsUntil;

// A capture engine that records what it was asked and completes when the test says so.
class FakeCapture : public CaptureService {
public:
    bool permission = true;
    int captures = 0;
    bool lastWasAssistant = false;
    QList<QList<QUrl>> imports;
    CaptureCompletion pending;
    SkippedImportsHandler pendingSkipped;
    ImportStepHandler pendingStep;

    bool checkScreenCapturePermission() override { return permission; }
    bool screenRecordingGranted() override { return permission; }
    void startAreaCapture(bool isAssistant, CaptureCompletion completion) override
    {
        ++captures;
        lastWasAssistant = isAssistant;
        pending = std::move(completion);
    }
    void performCaptureFromFileURLs(const QList<QUrl>& urls, Completion completion, SkippedImportsHandler skipped,
                                    ImportStepHandler step) override
    {
        pendingStep = std::move(step);
        imports << urls;
        pending = [completion = std::move(completion)](Infos infos, CaptureResult result) {
            completion(std::move(infos), result);
            return CaptureFollowUp::returnToPreviousWindow;
        };
        pendingSkipped = std::move(skipped);
    }
    CaptureFollowUp complete(Infos infos, CaptureResult result = CaptureResult::success)
    {
        auto completion = std::move(pending);
        return completion(std::move(infos), result);
    }
};

class ContentViewTest : public testing::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        // The copy-text road notifies the user; these tests reach no notification service at all.
        setNotificationBus(QDBusConnection(QStringLiteral("lumetrove-tests-no-bus")));
        store = openStore();
        folders = std::make_unique<FoldersListManager>(store);
        firstLaunch = std::make_unique<FirstLaunchChecker>([] { return false; });
    }

    /// The view, made without running the event loop: its first list is still on its way.
    void constructView()
    {
        view = std::make_unique<ContentView>(ContentView::Dependencies{
            .makeScreenshotsListManager = [this] { return new ScreenshotsListManager(store); },
            .foldersListManager = *folders,
            .appState = AppState::shared(),
            .minimumWindowSizeWithFirstLaunchArrow = QSize(1390, 700),
            .urlHandler = &URLHandler::shared(),
            .firstLaunchChecker = firstLaunch.get(),
            .settingsViewModel = &settings,
            .capture = &capture,
            .store = store});
    }

    void makeView()
    {
        constructView();
        view->resize(1400, 800);
        view->show();
        // Appearing with no key stored raises the API-key alert; the tests start without it.
        EXPECT_EQ(view->alert() != nullptr, capture.permission && !UserDefaults::contains(UserDefaults::openAIAPIKey));
        if (view->alert() != nullptr) {
            // It opens once the window is on screen; a message box closes only once it has been shown.
            EXPECT_TRUE(processEventsUntil([this] { return view->alert()->isVisible(); }));
            view->alert()->close();
        }
        processEventsUntil([this] { return view->alert() == nullptr; }, 1000);
        testing::waitForList(view->screenshotsListManager());
    }

    /// Puts the view into a shown main window with its toolbar, as the application does.
    QMainWindow& putInMainWindow()
    {
        window = std::make_unique<QMainWindow>();
        window->setCentralWidget(view.get());
        window->addToolBar(view->toolbar());
        window->resize(1400, 800);
        window->show();
        return *window;
    }

    void TearDown() override
    {
        if (window != nullptr) {
            view->setParent(nullptr); // the view is the fixture's, not the window's
            window.reset();
        }
        LibraryTest::TearDown();
    }

    /// A record as a capture hands it back, its PNG written to the screenshots directory.
    CapturedScreenshotInfo capturedImage(const QString& name, std::optional<QString> task = std::nullopt)
    {
        const QString directory = libraryDirectory() + "/Screenshots";
        QDir().mkpath(directory);
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::white);
        const QString path = directory + "/" + name + ".png";
        image.save(path);
        CapturedScreenshotInfo info;
        info.screenshotFilename = name + ".png";
        info.screenshotPath = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
        info.recognizedText = "recognised " + name;
        if (task) {
            info.windowDetails = WindowDetails{std::nullopt, std::nullopt, std::nullopt, task};
        }
        return info;
    }

    /// Waits until the list holds `size` rows and is as new as every reload started so far, so that nothing
    /// still under way (the selection of the newest row after an add) comes after the test's own steps.
    bool listSettled(int size)
    {
        const auto listed = std::make_shared<bool>(false);
        view->screenshotsListManager().whenListed([listed] { *listed = true; });
        return processEventsUntil(
            [&] { return *listed && view->screenshotsListManager().screenshots().size() == size; });
    }

    std::shared_ptr<ScreenshotsDB> store;
    std::unique_ptr<FoldersListManager> folders;
    std::unique_ptr<FirstLaunchChecker> firstLaunch;
    SettingsViewModel settings;
    FakeCapture capture;
    std::unique_ptr<ContentView> view;
    std::unique_ptr<QMainWindow> window;
};

TEST_F(ContentViewTest, TakeScreenshotChecksTheKeyOnlyForAIAndCountsOnlyBooleans)
{
    makeView();
    auto& center = NotificationCenter::defaultCenter();
    center.post("takeScreenshot");
    EXPECT_EQ(capture.captures, 1);
    EXPECT_FALSE(capture.lastWasAssistant);
    EXPECT_EQ(view->alert(), nullptr);

    center.post("takeScreenshot", {{"shouldAIProcess", true}, {"aiAssistant", true}});
    EXPECT_EQ(capture.captures, 1) << "no key stored: no overlay";
    ASSERT_NE(view->alert(), nullptr);
    EXPECT_EQ(view->alert()->text(), "Set OpenAI API Key");
    view->alert()->close();

    center.post("takeScreenshot", {{"shouldAIProcess", "true"}});
    EXPECT_EQ(capture.captures, 2) << "a text is not a Boolean";

    capture.permission = false;
    center.post("takeScreenshot");
    EXPECT_EQ(capture.captures, 2);
}

TEST_F(ContentViewTest, ACaptureResetsSearchAndSectionAndSelectsTheNewScreenshotMarkedForAI)
{
    UserDefaults::setValue(UserDefaults::openAIAPIKey, "sk-test");
    makeView();
    view->selection().setSection(FolderSection::today());
    view->setSearchText("nothing matches");
    NotificationCenter::defaultCenter().post("takeScreenshot", {{"shouldAIProcess", true}});
    EXPECT_EQ(view->folderSelection(), FolderSection::all());
    const QLineEdit* search = testing::controlNamed<QLineEdit>(view.get(), QStringLiteral("Search"));
    ASSERT_TRUE(search);
    EXPECT_EQ(search->text(), "");
    EXPECT_TRUE(view->didTakeOrImportScreenshot());

    EXPECT_EQ(capture.complete(QList<CapturedScreenshotInfo>{capturedImage("first")}), CaptureFollowUp::showMainWindow);
    ASSERT_TRUE(listSettled(1));
    ASSERT_NE(view->selectedScreenshot(), nullptr);
    EXPECT_EQ(view->screenshotsSelectionIndex(), 0);
    EXPECT_EQ(view->selectedScreenshot()->id(), view->screenshotsListManager().screenshots().first()->id());
    // Marked for AI, the new screenshot's analysis starts as soon as the pane shows it.
    const qint64 captured = view->selectedScreenshot()->id();
    EXPECT_TRUE(processEventsUntil([&] {
        const ScreenshotDetailView* detail = view->detailView();
        const ScreenshotPtr& started =
            detail ? detail->controller()->screenshotSelectedWhenAIProcessStarted() : ScreenshotPtr();
        return started && started->id() == captured;
    }));
    UserDefaults::remove(UserDefaults::openAIAPIKey);
}

TEST_F(ContentViewTest, CopyTextCapturesStoreNothingAndSendTheUserBack)
{
    makeView();
    // The shell, not the capture engine, sends the user back to where they were after a text-only task.
    EXPECT_EQ(
        view->handleCaptureResult(QList<CapturedScreenshotInfo>{capturedImage("copy", "Copy text"), capturedImage("x")},
                                  CaptureResult::success, false),
        CaptureFollowUp::returnToPreviousWindow);
    EXPECT_EQ(view->handleCaptureResult(std::nullopt, CaptureResult::cancelled, false),
              CaptureFollowUp::returnToPreviousWindow);
    processEventsUntil([] { return false; }, 100);
    EXPECT_TRUE(view->screenshotsListManager().screenshots().isEmpty());
    EXPECT_FALSE(testing::findControlNamed(view.get(), QStringLiteral("Screenshots")));
    EXPECT_EQ(view->detailView(), nullptr);
    EXPECT_TRUE(QDir(libraryDirectory() + "/Screenshots").isEmpty()) << "their images are not kept either";
}

TEST_F(ContentViewTest, ALibraryFoundDamagedOnOpeningIsRepairedWhileTheWindowIsUpThenListedAndTold)
{
    constexpr int shots = 5;
    for (int i = 0; i < shots; ++i) {
        addScreenshot(*store, QString("Shot %1").arg(i));
    }
    folders.reset();
    store.reset();
    // The first page of the screenshots table overwritten: the rows are read back from the list index.
    const std::vector<std::string> pages = column("SELECT rootpage FROM sqlite_master WHERE name = 'screenshots'");
    ASSERT_EQ(pages.size(), 1u);
    {
        QFile file(databasePath());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek((std::stoll(pages[0]) - 1) * 4096));
        file.write(QByteArray(4096, '\x5a'));
    }
    UserDefaults::setValue(UserDefaults::openAIAPIKey, "sk-test");

    // The repair is held until the window is up: a thread takes the connection as the repair is begun.
    testing::RepairHold hold(store);
    store = std::make_shared<ScreenshotsDB>();
    store->setRepairsInBackground(true);
    ::testing::internal::CaptureStdout();
    store->openDatabase(databasePath());
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(hold.holding()) << "the repair is begun by the open";
    EXPECT_TRUE(store->repairingInBackground());
    folders = std::make_unique<FoldersListManager>(store);
    constructView();
    view->resize(1400, 800);
    view->show();
    processEventsUntil([] { return false; }, 200);
    EXPECT_TRUE(view->repairProgress()->isVisible());
    EXPECT_TRUE(view->screenshotsListManager().screenshots().isEmpty());
    EXPECT_EQ(view->libraryProblemAlert(), nullptr);
    // A capture meanwhile, saved as the capture engine does, on a thread of its own, without waiting for the
    // repair, and handed to the list.
    const QString file = libraryDirectory() + "/Screenshots/During.png";
    QFuture<std::optional<QString>> saved =
        QtConcurrent::run([&] { return writeNewImage(store.get(), file, "png", "During", false); });
    ASSERT_TRUE(processEventsUntil([&] { return saved.isFinished(); }));
    EXPECT_FALSE(saved.result());
    CapturedScreenshotInfo info;
    info.screenshotFilename = "During.png";
    info.screenshotPath = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
    view->screenshotsListManager().addScreenshot(info, false);
    hold.release();

    // Repaired: every screenshot is listed, the capture once, and what was lost is told in the window.
    ASSERT_TRUE(listSettled(shots + 1));
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), shots + 1);
    ASSERT_TRUE(processEventsUntil(
        [&] { return view->libraryProblemAlert() != nullptr && view->libraryProblemAlert()->isVisible(); }));
    EXPECT_EQ(hold.repairing, (std::vector<bool>{true, false}));
    EXPECT_FALSE(view->repairProgress()->isVisible());
    EXPECT_EQ(view->libraryProblemAlert()->text(), "The library was damaged and has been repaired");
    const QString told = view->libraryProblemAlert()->informativeText();
    EXPECT_TRUE(told.contains("5 screenshots were recovered") && told.contains("is being recognised again"))
        << told.toStdString();
    view->libraryProblemAlert()->close();
    UserDefaults::remove(UserDefaults::openAIAPIKey);
}

TEST_F(ContentViewTest, ADamagedLibraryIsToldInTheWindowOnceItAppears)
{
    const QString damagedPath = libraryDirectory() + "/damaged.sqlite3";
    QFile damaged(damagedPath);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(8192, 'x'));
    damaged.close();
    store = std::make_shared<ScreenshotsDB>();
    store->openDatabase(damagedPath);
    ASSERT_TRUE(store->openProblem());
    folders = std::make_unique<FoldersListManager>(store);
    constructView();
    EXPECT_EQ(view->libraryProblemAlert(), nullptr) << "told once the window is there";
    view->show();
    QMessageBox* message = view->libraryProblemAlert();
    ASSERT_NE(message, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return message->isVisible(); }));
    EXPECT_EQ(message->windowModality(), Qt::WindowModal);
    EXPECT_EQ(message->text(), store->openProblem()->title);
    EXPECT_EQ(message->informativeText(), store->openProblem()->details);
    // With no key set, the key alert is due too: it waits until the library's problem is answered, so the
    // two are never stacked over the window at once.
    ASSERT_NE(view->alert(), nullptr);
    processEventsUntil([] { return false; }, 100);
    EXPECT_FALSE(view->alert()->isVisible());
    message->close();
    ASSERT_TRUE(processEventsUntil([&] { return view->libraryProblemAlert() == nullptr; }));
    ASSERT_TRUE(processEventsUntil([&] { return view->alert() != nullptr && view->alert()->isVisible(); }));
    view->hide();
    view->show();
    EXPECT_EQ(view->libraryProblemAlert(), nullptr) << "told once";
    if (view->alert() != nullptr) {
        view->alert()->close();
    }
}

TEST_F(ContentViewTest, ACaptureTheLibraryRefusesIsToldInALineTheUserDismisses)
{
    const qint64 older = addScreenshot(*store, QStringLiteral("older"));
    makeView();
    ASSERT_TRUE(listSettled(1));
    const QString problems = QStringLiteral("Library problems");
    EXPECT_FALSE(testing::findControlNamed(view.get(), problems)) << "hidden while it has nothing to tell";

    store->db()->executeScript("PRAGMA query_only = 1;");
    ::testing::internal::CaptureStdout();
    view->handleCaptureResult(QList<CapturedScreenshotInfo>{capturedImage("first"), capturedImage("second")},
                              CaptureResult::success, true);
    bool listed = false;
    view->screenshotsListManager().whenListed([&] { listed = true; });
    ASSERT_TRUE(processEventsUntil([&] { return listed; }));
    ::testing::internal::GetCapturedStdout();
    ProblemBar* bar = nullptr;
    ASSERT_TRUE(
        processEventsUntil([&] { return (bar = testing::findControlNamed<ProblemBar>(view.get(), problems)); }));
    // Two captures refused for one reason: one line.
    ASSERT_EQ(bar->messages().size(), 1);
    EXPECT_TRUE(bar->messages().front().startsWith("The screenshot could not be added to the library: "));
    EXPECT_TRUE(bar->messages().front().contains("readonly database"));
    ASSERT_EQ(view->screenshotsListManager().screenshots().ids(), std::vector<qint64>{older});
    // The newest row is the older screenshot, not the capture: the assistant is not set on it.
    ASSERT_TRUE(view->selectedScreenshot());
    EXPECT_FALSE(view->selectedScreenshot()->waitingForAIProcess());

    for (int index = 0; index < 5; ++index) {
        reportLibraryProblem(QString("problem %1").arg(index));
    }
    processEventsUntil([&] { return bar->messages().contains("problem 4"); });
    EXPECT_EQ(bar->messages(), (QStringList{"problem 2", "problem 3", "problem 4"})); // the newest few
    auto* dismiss = testing::controlNamed<QToolButton>(bar, QStringLiteral("Dismiss"));
    ASSERT_TRUE(dismiss);
    dismiss->click();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(bar->messages().isEmpty());
    store->db()->executeScript("PRAGMA query_only = 0;");
}

TEST_F(ContentViewTest, DeleteRemovesTheSelectedScreenshotFoundByIdAndNothingWhenItIsGone)
{
    makeView();
    view->deleteSelectedScreenshot(); // empty list: nothing happens
    view->handleCaptureResult(QList<CapturedScreenshotInfo>{capturedImage("a"), capturedImage("b"), capturedImage("c")},
                              CaptureResult::success, false);
    ASSERT_TRUE(listSettled(3));
    const auto screenshots = view->screenshotsListManager().screenshots();
    const qint64 middle = screenshots[1]->id();
    view->selection().setSelectionIndex(1);
    view->selection().setSelectedScreenshot(screenshots[1]);
    view->deleteSelectedScreenshot();
    ASSERT_EQ(view->screenshotsListManager().screenshots().size(), 2);
    for (const auto& s : view->screenshotsListManager().screenshots()) {
        EXPECT_NE(s->id(), middle);
    }
    EXPECT_EQ(view->screenshotsSelectionIndex(), 0);
    EXPECT_EQ(view->selectedScreenshot(), view->screenshotsListManager().screenshots().first());

    // A stale selection that is no longer in the list deletes nothing, whatever the index says.
    view->selection().setSelectionIndex(7);
    view->selection().setSelectedScreenshot(screenshots[1]);
    view->deleteSelectedScreenshot();
    EXPECT_EQ(view->screenshotsListManager().screenshots().size(), 2);
}

TEST_F(ContentViewTest, ASelectedOlderRowStaysSelectedAndShownWhileImportedFilesAreRecognised)
{
    makeView();
    QList<CapturedScreenshotInfo> older;
    for (int file = 0; file < 30; ++file) {
        older << capturedImage(QStringLiteral("older %1").arg(file));
    }
    view->addCapturedScreenshots(older, true);
    ASSERT_TRUE(listSettled(30));
    std::vector<QPromise<QString>> texts(20);
    QList<CapturedScreenshotInfo> imported;
    for (std::size_t file = 0; file < texts.size(); ++file) {
        CapturedScreenshotInfo info = capturedImage(QStringLiteral("imported %1").arg(file));
        info.recognizedText = QString();
        texts[file].start();
        info.pendingRecognizedText = texts[file].future();
        imported << info;
    }
    view->addCapturedScreenshots(imported, true);
    ASSERT_TRUE(listSettled(50));

    // The user scrolls down to an older row and clicks it.
    auto* list = view->findChild<ScreenshotListView*>();
    ASSERT_NE(list, nullptr);
    constexpr int chosenRow = 40;
    // The list lays its rows out on a later turn of the event loop; before that there is nowhere to scroll.
    ASSERT_TRUE(processEventsUntil([&] { return list->verticalScrollBar()->maximum() > 0; }));
    list->scrollTo(list->listModel().index(chosenRow), QAbstractItemView::PositionAtCenter);
    const ScreenshotPtr chosen = view->screenshotsListManager().screenshots().at(chosenRow);
    list->selectScreenshot(chosen);
    processEventsUntil([&] { return list->verticalScrollBar()->value() > 0; });
    const int scrolled = list->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    ASSERT_EQ(view->screenshotsSelectionIndex(), chosenRow);

    QSignalSpy published(&view->screenshotsListManager(), &ScreenshotsListManager::screenshotsChanged);
    for (std::size_t file = 0; file < texts.size(); ++file) {
        texts[file].addResult(QStringLiteral("words of file %1").arg(file));
        texts[file].finish();
        const qsizetype row = qsizetype(texts.size() - 1 - file); // newest first
        ASSERT_TRUE(processEventsUntil([&] {
            return view->screenshotsListManager().screenshots().row(row).textSnippet.value_or(QString()).startsWith(
                QStringLiteral("words of file"));
        })) << "file "
            << file;
        ASSERT_NE(view->selectedScreenshot(), nullptr);
        EXPECT_EQ(view->selectedScreenshot()->id(), chosen->id()) << "after file " << file;
        EXPECT_EQ(view->screenshotsSelectionIndex(), chosenRow) << "after file " << file;
        EXPECT_EQ(list->verticalScrollBar()->value(), scrolled) << "after file " << file;
        EXPECT_TRUE(list->viewport()->rect().intersects(list->visualRect(list->listModel().index(chosenRow))));
    }
    EXPECT_GE(published.size(), 20); // each text was published
}

TEST_F(ContentViewTest, ClosedToTheTrayTheListHoldsNoRowsAndOpenedShowsItAgainWithWhatWasCapturedMeanwhile)
{
    makeView();
    ScreenshotsListManager& manager = view->screenshotsListManager();
    auto* list = view->findChild<ScreenshotListView*>();
    ASSERT_NE(list, nullptr);
    view->handleCaptureResult(
        QList<CapturedScreenshotInfo>{capturedImage("alpha"), capturedImage("beta"), capturedImage("gamma")},
        CaptureResult::success, false);
    ASSERT_TRUE(listSettled(3));
    const auto listedIds = [&] {
        std::vector<qint64> ids;
        for (qsizetype row = 0; row < manager.screenshots().size(); ++row) {
            ids.push_back(manager.screenshots().row(row).id);
        }
        return ids;
    };
    const auto closeToTray = [&] {
        view->hide();
        manager.releaseRows();
        EXPECT_TRUE(manager.screenshots().isEmpty());
        EXPECT_FALSE(manager.listLoaded());
        EXPECT_EQ(list->listModel().rowCount(), 0);
        EXPECT_EQ(view->selectedScreenshot(), nullptr);
    };

    // The search the user kept is the list read again.
    view->setSearchText("beta");
    ASSERT_TRUE(listSettled(1));
    const std::vector<qint64> searched = listedIds();
    closeToTray();
    view->show();
    ASSERT_TRUE(processEventsUntil([&] { return manager.listLoaded() && listedIds() == searched; }));
    EXPECT_EQ(view->searchText(), "beta");
    ASSERT_NE(view->selectedScreenshot(), nullptr);
    EXPECT_EQ(view->selectedScreenshot()->id(), searched.front());

    // A capture whose list was still being read when the window closed, and one made while it is closed: both
    // are stored, neither is read into the closed window, and both are listed once it opens.
    view->setSearchText("");
    ASSERT_TRUE(listSettled(3));
    view->handleCaptureResult(QList<CapturedScreenshotInfo>{capturedImage("delta")}, CaptureResult::success, false);
    closeToTray();
    view->handleCaptureResult(QList<CapturedScreenshotInfo>{capturedImage("epsilon")}, CaptureResult::success, false);
    // Once both rows are written, what their writes posted back to this thread is handled before the list is
    // looked at.
    processEventsUntil([&] { return store->countScreenshots().value_or(0) == 5; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(manager.screenshots().isEmpty());
    EXPECT_EQ(list->listModel().rowCount(), 0);
    EXPECT_EQ(store->countScreenshots().value(), 5);

    view->show();
    ASSERT_TRUE(listSettled(5));
    std::vector<qint64> stored;
    for (const ScreenshotRow& row :
         ScreenshotsListManager::loadScreenshotRows(*store, std::nullopt, std::nullopt, std::nullopt)) {
        stored.push_back(row.id);
    }
    EXPECT_EQ(listedIds(), stored);
    EXPECT_EQ(list->listModel().rowCount(), 5);
    ASSERT_NE(view->selectedScreenshot(), nullptr);
    EXPECT_EQ(view->selectedScreenshot()->id(), stored.front()) << "the newest capture is selected, as ever";
    EXPECT_EQ(view->screenshotsSelectionIndex(), 0);
    // The sidebar, which counts nothing while the window is closed, counts what was captured meanwhile.
    auto* sidebar = view->findChild<FolderSidebarModel*>();
    ASSERT_NE(sidebar, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return !sidebar->countsPending(); }));
    EXPECT_EQ(sidebar->counts().total, 5);
}

TEST_F(ContentViewTest, FilesHandedOverBeforeAndAfterTheWindowAppearsAreImported)
{
    const QList<QUrl> early{QUrl::fromLocalFile("/tmp/early.png")};
    URLHandler::shared().setUrls(early);
    makeView();
    ASSERT_TRUE(processEventsUntil([&] { return capture.imports.size() == 1; }));
    EXPECT_EQ(capture.imports[0], early);
    capture.complete(QList<CapturedScreenshotInfo>{capturedImage("imported")});
    ASSERT_TRUE(listSettled(1));

    const QList<QUrl> late{QUrl::fromLocalFile("/tmp/late.jpg")};
    URLHandler::shared().setUrls(late);
    ASSERT_TRUE(processEventsUntil([&] { return capture.imports.size() == 2; }));
    EXPECT_EQ(capture.imports[1], late);
    EXPECT_TRUE(processEventsUntil([] { return URLHandler::shared().urls().isEmpty(); }));
}

TEST_F(ContentViewTest, FilesHandedOverAsTheWindowComesUpAreImportedOnce)
{
    // The shell builds the window, hands over the command line's files and then shows the window.
    UserDefaults::setValue(UserDefaults::openAIAPIKey, QStringLiteral("sk-test"));
    constructView();
    const QList<QUrl> files{QUrl::fromLocalFile("/tmp/once.png")};
    URLHandler::shared().setUrls(files);
    view->show();
    ASSERT_TRUE(processEventsUntil([&] { return capture.imports.size() == 1; }));
    capture.complete(QList<CapturedScreenshotInfo>{capturedImage("once")});
    processEventsUntil([] { return false; }, 200);
    EXPECT_EQ(capture.imports.size(), 1) << "the files were imported twice";
    UserDefaults::remove(UserDefaults::openAIAPIKey);
}

TEST_F(ContentViewTest, FilesHandedOverDuringAnImportOrACaptureAreImportedAtOnceAndOnce)
{
    // Imports and captures each run to their end in the engine: nothing waits for another, nothing is asked
    // for twice.
    makeView();
    const QList<QUrl> first{QUrl::fromLocalFile("/tmp/first.png")};
    const QList<QUrl> second{QUrl::fromLocalFile("/tmp/second.png")};
    URLHandler::shared().setUrls(first);
    ASSERT_TRUE(processEventsUntil([&] { return capture.imports.size() == 1; }));
    URLHandler::shared().setUrls(second);
    ASSERT_TRUE(processEventsUntil([&] { return capture.imports.size() == 2; }));
    EXPECT_EQ(capture.imports[1], second);

    NotificationCenter::defaultCenter().post("takeScreenshot");
    ASSERT_EQ(capture.captures, 1);
    capture.complete(std::nullopt, CaptureResult::cancelled);
    processEventsUntil([] { return false; }, 100);
    EXPECT_EQ(capture.imports.size(), 2) << "a capture asked for an import again";
}

TEST_F(ContentViewTest, FilesHandedOverAreImportedOnceWhenTheWindowIsShownAgainBeforeTheyAreCleared)
{
    makeView();
    const QList<QUrl> files{QUrl::fromLocalFile("/tmp/once.png")};
    // A second launch hands its files over and shows the window, in one go.
    URLHandler::shared().setUrls(files);
    view->hide();
    view->show();
    processEventsUntil([] { return false; }, 200);
    EXPECT_EQ(capture.imports, QList<QList<QUrl>>{files});
    // Once cleared, the handler's list stays as it is: the program is idle again.
    QSignalSpy changes(&URLHandler::shared(), &URLHandler::urlsChanged);
    processEventsUntil([] { return false; }, 200);
    EXPECT_EQ(changes.count(), 0);
    if (view->alert() != nullptr) {
        view->alert()->close();
    }
}

TEST_F(ContentViewTest, FilesAnImportLeftOutAreToldInOneWindowModalMessage)
{
    makeView();
    view->importFiles({QUrl::fromLocalFile("/tmp/a.png"), QUrl::fromLocalFile("/tmp/b.png")});
    ASSERT_TRUE(capture.pendingSkipped);
    capture.pendingSkipped({{"a.png", "it is empty"}, {"b.png", "the image is incomplete"}});
    capture.complete(QList<CapturedScreenshotInfo>{});
    QMessageBox* message = view->skippedImportsAlert();
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(message->windowModality(), Qt::WindowModal);
    EXPECT_EQ(message->text(), QStringLiteral("2 files were not imported"));
    EXPECT_EQ(message->informativeText(), QStringLiteral("a.png: it is empty\nb.png: the image is incomplete"));

    // A later import's files join the message while it is shown; once dismissed, the next import has its own.
    view->importFiles({QUrl::fromLocalFile("/tmp/c.png")});
    capture.pendingSkipped({{"c.png", "it is not a regular file"}});
    EXPECT_EQ(view->skippedImportsAlert(), message);
    EXPECT_TRUE(message->informativeText().endsWith(QStringLiteral("\nc.png: it is not a regular file")));
    EXPECT_EQ(message->text(), QStringLiteral("3 files were not imported"));
    message->close();
    ASSERT_TRUE(processEventsUntil([&] { return view->skippedImportsAlert() == nullptr; }));
    view->importFiles({QUrl::fromLocalFile("/tmp/d.png")});
    capture.pendingSkipped({{"d.png", "it is empty"}});
    ASSERT_NE(view->skippedImportsAlert(), nullptr);
    EXPECT_EQ(view->skippedImportsAlert()->text(), QStringLiteral("\u201cd.png\u201d was not imported"));
    view->skippedImportsAlert()->close();
}

TEST_F(ContentViewTest, AnImportListsEachFileAsItIsStoredAndTellsHowManyOfHowManyAreDone)
{
    makeView();
    constexpr int files = 40;
    QList<QUrl> urls;
    for (int i = 0; i < files; ++i) {
        urls << QUrl::fromLocalFile(QString("/tmp/file %1.png").arg(i));
    }
    view->importFiles(urls);
    ASSERT_TRUE(capture.pendingStep);
    QLabel* progress = view->importProgress();
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->text(), QStringLiteral("Importing 0 of 40"));

    // The first half is stored and one file left out: their rows are listed while the import goes on.
    QList<CapturedScreenshotInfo> imported;
    const auto storeFile = [&](int i) {
        CapturedScreenshotInfo info = capturedImage(QString("file %1").arg(i));
        info.screenshotFilename = QString("file %1").arg(i);
        imported << info;
        capture.pendingStep(info);
    };
    for (int i = 0; i < 20; ++i) {
        storeFile(i);
    }
    capture.pendingStep(std::nullopt);
    ASSERT_TRUE(listSettled(20));
    ASSERT_TRUE(processEventsUntil([&] { return progress->text() == QStringLiteral("Importing 21 of 40"); }))
        << progress->text().toStdString();
    EXPECT_TRUE(progress->isVisible());

    // The rest, and the end with every record: each file is listed once, and the line goes.
    for (int i = 21; i < files; ++i) {
        storeFile(i);
    }
    capture.complete(imported);
    ASSERT_TRUE(processEventsUntil([&] { return progress->isHidden(); }));
    ASSERT_TRUE(listSettled(files - 1));
    EXPECT_EQ(count("SELECT count(DISTINCT path) FROM screenshots"), files - 1);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), files - 1);
    ASSERT_TRUE(processEventsUntil([&] { return view->selectedScreenshot() != nullptr; }));
    EXPECT_EQ(view->selectedScreenshot()->id(), view->screenshotsListManager().screenshots().first()->id());
}

TEST_F(ContentViewTest, AnIdleWindowReceivesNoMoreThanAHandfulOfEventsASecond)
{
    // Counts every event the application delivers, to the root view and to the shared objects it answers to.
    class Counter : public QObject {
    public:
        int events = 0;
        bool eventFilter(QObject*, QEvent*) override
        {
            ++events;
            return false;
        }
    };
    const QList<QUrl> early{QUrl::fromLocalFile("/tmp/idle-early.png")};
    URLHandler::shared().setUrls(early);
    makeView();
    ASSERT_TRUE(processEventsUntil([&] { return capture.imports.size() == 1; }));
    capture.complete(QList<CapturedScreenshotInfo>{capturedImage("idle")});
    ASSERT_TRUE(listSettled(1));
    // What the start-up and the import left queued runs first.
    processEventsUntil([] { return false; }, 500);

    Counter counter;
    qApp->installEventFilter(&counter);
    processEventsUntil([] { return false; }, 1000);
    qApp->removeEventFilter(&counter);
    EXPECT_LE(counter.events, 10) << "an idle second delivered " << counter.events << " events";
    EXPECT_EQ(capture.imports.size(), 1) << "the handed-over files were imported more than once";
}

TEST_F(ContentViewTest, TheSearchFieldSaysWhatItIsForAndHasRoomToSayIt)
{
    makeView();
    const QLineEdit* search = testing::controlNamed<QLineEdit>(view.get(), QStringLiteral("Search"));
    ASSERT_TRUE(search);
    ASSERT_FALSE(search->placeholderText().isEmpty());
    EXPECT_GE(search->width(), search->fontMetrics().horizontalAdvance(search->placeholderText()));
}

TEST_F(ContentViewTest, TheEmptyStateIsShownOnlyOnceTheFirstListIsEmpty)
{
    constructView();
    ASSERT_FALSE(view->screenshotsListManager().listLoaded());
    const QString list = QStringLiteral("Screenshots");
    EXPECT_TRUE(testing::findControlNamed(view.get(), list));
    testing::waitForList(view->screenshotsListManager());
    EXPECT_FALSE(testing::findControlNamed(view.get(), list)) << "the empty state shows instead";
}

TEST_F(ContentViewTest, FirstLaunchHintShowsOnlyBeforeTheFirstCaptureOfAnEmptyLibrary)
{
    firstLaunch.reset();
    UserDefaults::remove(UserDefaults::hasLaunchedBefore);
    firstLaunch = std::make_unique<FirstLaunchChecker>([] { return true; });
    makeView();
    EXPECT_TRUE(view->shouldShowFirstLaunchArrow());
    const QString hint = QStringLiteral("Click 'AI Assistant' to get started");
    EXPECT_TRUE(testing::controlNamed<QLabel>(view.get(), hint));
    EXPECT_TRUE(view->firstLaunchArrow()->isVisible());
    NotificationCenter::defaultCenter().post("takeScreenshot");
    EXPECT_FALSE(view->shouldShowFirstLaunchArrow());
    EXPECT_FALSE(testing::findControlNamed<QLabel>(view.get(), hint));
    EXPECT_TRUE(testing::controlNamed<QLabel>(view.get(), QStringLiteral("No screenshots")));
    EXPECT_FALSE(view->firstLaunchArrow()->isVisible());
}

TEST_F(ContentViewTest, TheKeyAlertComesOnceALaunchAboveTheWindowItBlocks)
{
    constructView();
    QMainWindow& window = putInMainWindow();
    ASSERT_TRUE(processEventsUntil([&] { return view->alert() != nullptr && view->alert()->isVisible(); }))
        << "no key stored: the window's first appearance raises the alert";
    QMessageBox* alert = view->alert();
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    ASSERT_NE(alert->windowHandle(), nullptr);
    EXPECT_EQ(alert->windowHandle()->transientParent(), window.windowHandle());

    // The window goes away and comes back with the alert still open, as around a capture: the alert is
    // shown again with it.
    window.hide();
    window.show();
    EXPECT_TRUE(processEventsUntil([&] { return alert->isVisible(); })) << "the window came back without its alert";
    EXPECT_EQ(view->alert(), alert) << "a second alert was opened";
    alert->close();
    ASSERT_TRUE(processEventsUntil([&] { return view->alert() == nullptr; }));

    // Every later show, after a capture or "View Screenshots", leaves the user's answer standing.
    NotificationCenter::defaultCenter().post("takeScreenshot");
    ASSERT_EQ(capture.captures, 1);
    window.hide();
    window.show();
    capture.complete(QList<CapturedScreenshotInfo>{capturedImage("after-cancel")});
    ASSERT_TRUE(listSettled(1));
    window.hide();
    window.show();
    processEventsUntil([] { return false; }, 200);
    EXPECT_EQ(view->alert(), nullptr) << "the key alert opened again after the first appearance";
}

TEST_F(ContentViewTest, TheFirstLaunchArrowPointsAtTheAIAssistantButtonWhereverTheToolbarPutsIt)
{
    firstLaunch.reset();
    UserDefaults::remove(UserDefaults::hasLaunchedBefore);
    firstLaunch = std::make_unique<FirstLaunchChecker>([] { return true; });
    UserDefaults::setValue(UserDefaults::openAIAPIKey, QStringLiteral("sk-test"));
    constructView();
    QMainWindow& window = putInMainWindow();
    testing::waitForList(view->screenshotsListManager());
    ASSERT_TRUE(view->shouldShowFirstLaunchArrow());
    QWidget* button = testing::controlNamed<QToolButton>(&window, QStringLiteral("AI Assistant"));
    ASSERT_NE(button, nullptr);

    for (const Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        SCOPED_TRACE(direction == Qt::LeftToRight ? "left to right" : "right to left");
        window.setLayoutDirection(direction);
        QLabel* arrow = view->firstLaunchArrow();
        ASSERT_TRUE(processEventsUntil([&] {
            const QRect target(button->mapToGlobal(QPoint(0, 0)), button->size());
            const QRect tip(arrow->mapToGlobal(QPoint(0, 0)), arrow->size());
            return arrow->isVisible() && std::abs(tip.center().x() - target.center().x()) <= 1;
        })) << "the arrow stands at x "
            << arrow->mapToGlobal(QPoint(0, 0)).x() << ", the button at x " << button->mapToGlobal(QPoint(0, 0)).x();
        EXPECT_GT(arrow->mapToGlobal(QPoint(0, 0)).y(), button->mapToGlobal(QPoint(0, button->height())).y())
            << "the arrow stands below the toolbar";
    }
    // On a narrower window the button keeps its place and so does the arrow.
    window.resize(1000, 800);
    EXPECT_TRUE(processEventsUntil([&] {
        return std::abs(view->firstLaunchArrow()->mapToGlobal(view->firstLaunchArrow()->rect().center()).x() -
                        button->mapToGlobal(button->rect().center()).x()) <= 1;
    }));
    UserDefaults::remove(UserDefaults::openAIAPIKey);
}

TEST_F(ContentViewTest, NarrowedToItsLeastWidthTheWindowTilesToHalfA1920ScreenAndShowsReadableNames)
{
    addScreenshot(*store, QStringLiteral("Quarterly budget review of the northern region"));
    UserDefaults::setValue(UserDefaults::openAIAPIKey, QStringLiteral("sk-test"));
    constructView();
    QMainWindow& window = putInMainWindow();
    testing::waitForList(view->screenshotsListManager());
    auto* list = testing::controlNamed<ScreenshotListView>(&window, QStringLiteral("Screenshots"));
    ASSERT_NE(list, nullptr);
    const auto nameField = [&] {
        for (QLineEdit* field : testing::controlsNamed<QLineEdit>(&window, QStringLiteral("Name"))) {
            if (field->isVisible()) {
                return field;
            }
        }
        return static_cast<QLineEdit*>(nullptr);
    };
    ASSERT_TRUE(processEventsUntil([&] { return nameField() != nullptr; }));
    QFont bold = list->font();
    bold.setBold(true);
    // Room for a dozen letters of a name, in the list's row and in the detail pane's field.
    const int readable = 12 * QFontMetrics(bold).averageCharWidth();

    // On a wide screen, and on screens 960 and 800 wide (1920 and 1600 at scale 2), as the window fit tells it.
    for (const int screenWidth : {3840, 960, 800}) {
        SCOPED_TRACE(screenWidth);
        view->setAvailableWidth(screenWidth - 2);
        // Narrowed as far as it goes, once its layouts have taken the columns' new minimums, the window fits
        // half a 1920 screen less a window manager's borders (and the smaller screen), and the list has laid
        // its rows out for its new width.
        const int room = std::min(958, screenWidth - 2);
        EXPECT_TRUE(processEventsUntil([&] {
            window.resize(1, 800);
            const QRect rect = list->visualRect(list->model()->index(0, 0));
            return window.width() <= room && rect.width() == list->viewport()->width() &&
                   rect.height() == screenshotRowHeight(list->viewport()->width());
        })) << "the window is "
            << window.width() << " wide, its first row " << list->visualRect(list->model()->index(0, 0)).width() << "x"
            << list->visualRect(list->model()->index(0, 0)).height() << " in a list " << list->viewport()->width()
            << " wide";
        const ScreenshotRowGeometry row = screenshotRowGeometry(list->visualRect(list->model()->index(0, 0)));
        EXPECT_GE(row.nameRect.width(), readable);
        EXPECT_LE(row.nameRect.right(), list->viewport()->width());
        EXPECT_TRUE(row.nameRect.intersected(row.thumbnailFrame).isEmpty());
        EXPECT_TRUE(row.nameRect.intersected(row.appIconRect).isEmpty());
        EXPECT_LE(row.card.bottom(), list->visualRect(list->model()->index(0, 0)).bottom());
        QLineEdit* name = nameField();
        ASSERT_NE(name, nullptr);
        EXPECT_GE(name->width(), readable);
        EXPECT_LE(name->mapTo(&window, QPoint(name->width(), 0)).x(), window.width());
    }
    UserDefaults::remove(UserDefaults::openAIAPIKey);
}

TEST(LumetroveAppTest, CommandLineFilesBecomeAbsoluteFileURLsAndOptionsAreSkipped)
{
    const QList<QUrl> files = LumetroveApp::fileArguments(
        {"lumetrove", "--verbose", "shot one.png", "/tmp/a$b`c\".jpg", "file:///tmp/x.png", ""});
    ASSERT_EQ(files.size(), 3);
    EXPECT_EQ(files[0].toLocalFile(), QDir::current().absoluteFilePath("shot one.png"));
    EXPECT_EQ(files[1].toLocalFile(), "/tmp/a$b`c\".jpg");
    EXPECT_EQ(files[2].toLocalFile(), "/tmp/x.png");
}

} // namespace
} // namespace lumetrove
