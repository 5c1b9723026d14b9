#include "lumetrove/app/ContentView.h"

#include "lumetrove/app/AppState.h"
#include "lumetrove/app/AssistantActions.h"
#include "lumetrove/app/FirstLaunchChecker.h"
#include "lumetrove/app/LumetroveApp.h"
#include "lumetrove/app/ProblemBar.h"
#include "lumetrove/app/SettingsViewModel.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "lumetrove/platform/UserDefaults.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QDBusConnection>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QToolButton>
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
    Completion pending;

    bool checkScreenCapturePermission() override { return permission; }
    bool screenRecordingGranted() override { return permission; }
    void startAreaCapture(bool isAssistant, Completion completion) override
    {
        ++captures;
        lastWasAssistant = isAssistant;
        pending = std::move(completion);
    }
    void performCaptureFromFileURLs(const QList<QUrl>& urls, Completion completion) override
    {
        imports << urls;
        pending = std::move(completion);
    }
    void complete(Infos infos, CaptureResult result = CaptureResult::success)
    {
        auto completion = std::move(pending);
        completion(std::move(infos), result);
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
        ContentView::Environment environment;
        environment.urlHandler = &URLHandler::shared();
        environment.firstLaunchChecker = firstLaunch.get();
        environment.settingsViewModel = &settings;
        environment.capture = &capture;
        environment.store = store;
        view = std::make_unique<ContentView>([this] { return new ScreenshotsListManager(store); }, *folders,
                                             FolderSection::all(), false, AppState::shared(), 1390, 700, environment);
    }

    void makeView()
    {
        constructView();
        view->resize(1400, 800);
        view->show();
        // Appearing with no key stored raises the API-key alert; the tests start without it.
        EXPECT_EQ(view->alert() != nullptr, capture.permission && !UserDefaults::contains(UserDefaults::openAIAPIKey));
        if (view->alert() != nullptr) {
            view->alert()->close();
        }
        processEventsUntil([this] { return view->alert() == nullptr; }, 1000);
        testing::waitForList(view->screenshotsListManager());
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

    bool listSettled(int size)
    {
        return processEventsUntil([&] { return view->screenshotsListManager().screenshots().size() == size; });
    }

    std::shared_ptr<ScreenshotsDB> store;
    std::unique_ptr<FoldersListManager> folders;
    std::unique_ptr<FirstLaunchChecker> firstLaunch;
    SettingsViewModel settings;
    FakeCapture capture;
    std::unique_ptr<ContentView> view;
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
    EXPECT_EQ(view->searchField()->text(), "");
    EXPECT_TRUE(view->didTakeOrImportScreenshot());

    capture.complete(QList<CapturedScreenshotInfo>{capturedImage("first")});
    ASSERT_TRUE(listSettled(1));
    ASSERT_NE(view->selectedScreenshot(), nullptr);
    EXPECT_EQ(view->screenshotsSelectionIndex(), 0);
    EXPECT_EQ(view->selectedScreenshot()->id(), view->screenshotsListManager().screenshots().first()->id());
    UserDefaults::remove(UserDefaults::openAIAPIKey);
}

TEST_F(ContentViewTest, CopyTextAndWebSearchCapturesStoreNothing)
{
    makeView();
    view->handleCaptureResult(QList<CapturedScreenshotInfo>{capturedImage("copy", "Copy text"), capturedImage("x")},
                              CaptureResult::success, false);
    view->handleCaptureResult(std::nullopt, CaptureResult::cancelled, false);
    processEventsUntil([] { return false; }, 100);
    EXPECT_TRUE(view->screenshotsListManager().screenshots().isEmpty());
    EXPECT_EQ(view->listView(), nullptr);
    EXPECT_EQ(view->detailView(), nullptr);
}

TEST_F(ContentViewTest, ACaptureTheLibraryRefusesIsToldInALineTheUserDismisses)
{
    makeView();
    ProblemBar* bar = view->problemBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isVisible());

    store->db()->executeScript("PRAGMA query_only = 1;");
    ::testing::internal::CaptureStdout();
    view->handleCaptureResult(QList<CapturedScreenshotInfo>{capturedImage("first"), capturedImage("second")},
                              CaptureResult::success, false);
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(processEventsUntil([&] { return bar->isVisible(); }));
    // Two captures refused for one reason: one line.
    ASSERT_EQ(bar->messages().size(), 1);
    EXPECT_TRUE(bar->messages().front().startsWith("The screenshot could not be added to the library: "));
    EXPECT_TRUE(bar->messages().front().contains("readonly database"));
    EXPECT_TRUE(view->screenshotsListManager().screenshots().isEmpty());

    for (int index = 0; index < 5; ++index) {
        reportLibraryProblem(QString("problem %1").arg(index));
    }
    processEventsUntil([&] { return bar->messages().contains("problem 4"); });
    EXPECT_EQ(bar->messages(), (QStringList{"problem 2", "problem 3", "problem 4"})); // the newest few
    bar->dismissButton()->click();
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

TEST_F(ContentViewTest, TheEmptyStateIsShownOnlyOnceTheFirstListIsEmpty)
{
    constructView();
    ASSERT_FALSE(view->screenshotsListManager().listLoaded());
    EXPECT_NE(view->listView(), nullptr);
    testing::waitForList(view->screenshotsListManager());
    EXPECT_EQ(view->listView(), nullptr); // the empty state
}

TEST_F(ContentViewTest, FirstLaunchHintShowsOnlyBeforeTheFirstCaptureOfAnEmptyLibrary)
{
    firstLaunch.reset();
    UserDefaults::remove(UserDefaults::hasLaunchedBefore);
    firstLaunch = std::make_unique<FirstLaunchChecker>([] { return true; });
    makeView();
    EXPECT_TRUE(view->shouldShowFirstLaunchArrow());
    EXPECT_EQ(view->emptyStateLabel()->text(), "Click 'AI Assistant' to get started");
    EXPECT_TRUE(view->firstLaunchArrow()->isVisible());
    NotificationCenter::defaultCenter().post("takeScreenshot");
    EXPECT_FALSE(view->shouldShowFirstLaunchArrow());
    EXPECT_EQ(view->emptyStateLabel()->text(), "No screenshots");
    EXPECT_FALSE(view->firstLaunchArrow()->isVisible());
}

TEST(LumetroveAppTest, ScreenRecordingIsGrantedByTheSessionEvenWithNoOtherWindowOpen)
{
    // The first-launch hint and the API-key alert at launch wait for this answer; a bare desktop, where no other
    // program's window is open, must not withhold them.
    EXPECT_TRUE(sharedCaptureService().screenRecordingGranted());
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
