#include "lumetrove/detail/ScreenshotDetailView.h"

#include "lumetrove/detail/LiveTextImageView.h"
#include "lumetrove/detail/ProcessButtonView.h"
#include "lumetrove/platform/UserDefaults.h"
#include "settingsopener/OpenSettingsAction.h"
#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/ai/AIServiceTest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QTest>
#include <atomic>

namespace lumetrove::testing {
namespace {

/// No words for any image: the pane tests do not need the recogniser.
class NoText : public TextRecognizer {
public:
    RecognizedText recognize(const QImage&) const override { return {}; }
};

/// One word for every image, counting the images it was asked to read.
class CountingText : public TextRecognizer {
public:
    RecognizedText recognize(const QImage&) const override
    {
        ++calls;
        return {{{"word", QRectF(1, 1, 20, 8), {{"word", QRectF(1, 1, 20, 8), 90}}}}};
    }
    mutable std::atomic<int> calls{0};
};

/// Reads until it is cancelled, as a long recognition would, counting the recognitions given up.
class EndlessText : public TextRecognizer {
public:
    RecognizedText recognize(const QImage&) const override { throw TextRecognitionError("Only cancellable"); }
    RecognizedText recognizeUnlessCancelled(const QImage&, const std::function<bool()>& cancelled) const override
    {
        ++started;
        while (!cancelled()) {
            QThread::msleep(2);
        }
        ++givenUp;
        throw TextRecognitionCancelled();
    }
    mutable std::atomic<int> started{0}, givenUp{0};
};

/// The pane as a user and a screen reader meet it: its controls are found by the names a screen reader reads.
class ScreenshotDetailViewTest : public AIServiceTest {
protected:
    void TearDown() override
    {
        pane.reset();
        AIServiceTest::TearDown();
    }

    ScreenshotDetailView& makePane(SettingsViewModel* settings = nullptr,
                                   settingsopener::OpenSettingsAction* open = nullptr)
    {
        pane = std::make_unique<ScreenshotDetailView>(
            ScreenshotDetailView::Environment{nullptr, settings, open, recognizer});
        useLoopbackService(*pane->model());
        pane->resize(800, 900);
        pane->show();
        return *pane;
    }

    void select(const ScreenshotPtr& record)
    {
        pane->setScreenshot(record);
        ASSERT_TRUE(processEventsUntil([&] { return pane->isImageCurrent(); }));
    }

    /// A screenshot shown in a new pane, while the service answers what is no JSON: its analysis fails.
    ScreenshotPtr shownWithAServiceThatAnswersNoJson()
    {
        const ScreenshotPtr record = screenshot("shot");
        makePane();
        select(record);
        std::lock_guard lock(replyMutex);
        reply = "not json";
        return record;
    }

    bool waitUntilProcessed(const ScreenshotPtr& record)
    {
        return processEventsUntil([&] { return !record->currentlyAIProcessing() && !pane->model()->isLoading(); });
    }

    ProcessButtonView* processButton() { return controlNamed<ProcessButtonView>(pane.get(), "Process With AI"); }
    QLineEdit* nameField() { return controlNamed<QLineEdit>(pane.get(), "Name"); }
    QLineEdit* keywordField() { return controlNamed<QLineEdit>(pane.get(), "Keywords"); }
    LiveTextImageView* imageView() { return controlNamed<LiveTextImageView>(pane.get(), "Screenshot Image"); }

    /// Adds keywords as a user does: types them into the keyword field and presses "Add".
    void addKeywords(const QString& words)
    {
        keywordField()->setText(words);
        controlNamed<QPushButton>(pane.get(), "Add")->click();
    }

    /// The keyword chips shown, in order: every button next to the keyword field but "Add".
    QStringList keywordChips()
    {
        QStringList chips;
        for (QPushButton* button : keywordField()->parentWidget()->findChildren<QPushButton*>()) {
            if (accessibleName(button) != "Add" && button->isVisibleTo(pane.get())) {
                chips << accessibleName(button);
            }
        }
        return chips;
    }

    /// The alert shown now, found by its title as a screen reader reads it.
    QMessageBox* alert(const QString& title)
    {
        QMessageBox* found = nullptr;
        processEventsUntil([&] {
            found = findControlNamed<QMessageBox>(pane.get(), title);
            return found && found->isVisible();
        });
        return found;
    }

    QStringList alertButtons(QMessageBox* box) const
    {
        QStringList names;
        for (QAbstractButton* button : box->buttons()) {
            names << accessibleName(button);
        }
        return names;
    }

    std::shared_ptr<TextRecognizer> recognizer = std::make_shared<NoText>();
    std::unique_ptr<ScreenshotDetailView> pane;
};

TEST_F(ScreenshotDetailViewTest, TheButtonStartsTheAnalysisAndTheFieldsShowTheAnswerWithoutSwallowingTheNextEdit)
{
    const ScreenshotPtr record = screenshot("shot");
    makePane();
    select(record);
    ASSERT_NE(processButton(), nullptr);
    processButton()->click();
    EXPECT_TRUE(record->currentlyAIProcessing());
    ASSERT_TRUE(waitUntilProcessed(record));

    EXPECT_EQ(requests, 1);
    EXPECT_EQ(record->name(), "sales report final");
    EXPECT_EQ(nameField()->text(), "sales report final");
    EXPECT_EQ(keywordChips(), (QStringList{"sales", "report", "q3"}));
    EXPECT_EQ(texts("SELECT keywords FROM screenshots"), std::vector<std::string>{"sales report q3"});

    addKeywords("extra");
    EXPECT_EQ(texts("SELECT keywords FROM screenshots"), std::vector<std::string>{"sales report q3 extra"});

    // Keywords the answer gives again, equal to the ones shown, leave the next edit saved too.
    processButton()->click();
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(keywordChips(), (QStringList{"sales", "report", "q3"}));
    addKeywords("later");
    EXPECT_EQ(texts("SELECT keywords FROM screenshots"), std::vector<std::string>{"sales report q3 later"});
}

TEST_F(ScreenshotDetailViewTest, AnAnswerTheLibraryRefusesIsNotShown)
{
    const ScreenshotPtr record = screenshot("shot");
    record->setKeywords(QString("old"));
    makePane();
    select(record);
    store->db()->executeScript("PRAGMA query_only = 1;");
    ::testing::internal::CaptureStdout();
    processButton()->click();
    ASSERT_TRUE(waitUntilProcessed(record));
    ::testing::internal::GetCapturedStdout();
    store->db()->executeScript("PRAGMA query_only = 0;");

    EXPECT_EQ(texts("SELECT name || '|' || keywords FROM screenshots"), std::vector<std::string>{"shot|old"});
    EXPECT_EQ(nameField()->text(), "shot");
    EXPECT_EQ(keywordChips(), QStringList{"old"});
}

TEST_F(ScreenshotDetailViewTest, TheIndicatorFollowsTheShownScreenshotWhileAnAnswerLandsOnItsOwn)
{
    const ScreenshotPtr first = screenshot("first");
    const ScreenshotPtr second = screenshot("second");
    makePane();
    ProcessButtonView* button = processButton();
    ASSERT_NE(button, nullptr);
    select(first);
    delayMs = 600;
    button->click();
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    EXPECT_TRUE(button->showsBusyFace());

    // Moving away neither drops the request nor moves its indicator; coming back shows it again.
    select(second);
    EXPECT_TRUE(first->currentlyAIProcessing());
    EXPECT_FALSE(button->showsBusyFace());
    select(first);
    EXPECT_TRUE(button->showsBusyFace());
    select(second);
    ASSERT_TRUE(waitUntilProcessed(first));

    EXPECT_EQ(first->name(), "sales report final");
    EXPECT_EQ(nameField()->text(), "second");
    EXPECT_EQ(keywordChips(), QStringList());
    EXPECT_FALSE(button->showsBusyFace());
    EXPECT_EQ(findControlNamed<QMessageBox>(pane.get(), "AI Error"), nullptr);
}

TEST_F(ScreenshotDetailViewTest, ATimedOutRequestShowsAWindowModalAlertWhoseRetryStartsAgain)
{
    const ScreenshotPtr record = screenshot("shot");
    timeoutSeconds = 0.3;
    makePane();
    select(record);
    delayMs = 1500;
    processButton()->click();
    QMessageBox* box = alert("AI Error");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(record->currentlyAIProcessing());
    EXPECT_EQ(box->text(), "AI Error");
    EXPECT_TRUE(box->informativeText().startsWith("The request timed out."));
    EXPECT_EQ(alertButtons(box), (QStringList{"Retry", "Cancel"}));
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);

    // The service may still be sleeping on the first request: the retry waits for it.
    timeoutSeconds = 20;
    delayMs = 0;
    controlNamed<QAbstractButton>(box, "Retry")->click();
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(record->name(), "sales report final");
    EXPECT_TRUE(processEventsUntil([&] { return findControlNamed<QMessageBox>(pane.get(), "AI Error") == nullptr; }));
    EXPECT_FALSE(pane->controller()->showingAlert());
}

TEST_F(ScreenshotDetailViewTest, OtherFailuresShowTheDetailsWithOneButtonThatPutsTheAlertDown)
{
    const ScreenshotPtr record = shownWithAServiceThatAnswersNoJson();
    ::testing::internal::CaptureStdout();
    processButton()->click();
    QMessageBox* box = alert("AI Error");
    ::testing::internal::GetCapturedStdout();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->informativeText(), pane->controller()->alertMessage());
    EXPECT_TRUE(box->informativeText().contains("\n\nDetails: "));
    EXPECT_EQ(alertButtons(box), QStringList{"OK"});

    controlNamed<QAbstractButton>(box, "OK")->click();
    EXPECT_FALSE(pane->controller()->showingAlert());
    EXPECT_TRUE(processEventsUntil([&] { return findControlNamed<QMessageBox>(pane.get(), "AI Error") == nullptr; }));
}

TEST_F(ScreenshotDetailViewTest, AFailureThatArrivesWhileTheWindowIsHiddenIsShownWhenItIsBack)
{
    // Hidden for a capture when the failure comes: an alert put up then would lie under the capture's
    // overlays and take the keyboard from them.
    const ScreenshotPtr record = shownWithAServiceThatAnswersNoJson();
    delayMs = 300;
    ::testing::internal::CaptureStdout();
    processButton()->click();
    pane->hide();
    ASSERT_TRUE(processEventsUntil([&] { return pane->controller()->showingAlert(); }));
    ::testing::internal::GetCapturedStdout();
    QTest::qWait(50);
    const QMessageBox* hidden = findControlNamed<QMessageBox>(pane.get(), "AI Error");
    EXPECT_TRUE(hidden == nullptr || !hidden->isVisible()) << "the alert is up while its window is hidden";

    pane->show();
    QMessageBox* box = alert("AI Error");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->informativeText().contains("\n\nDetails: "));
}

TEST_F(ScreenshotDetailViewTest, WithoutAKeyTheAlertOpensSettings)
{
    UserDefaults::remove(UserDefaults::openAIAPIKey);
    const ScreenshotPtr record = screenshot("shot");
    record->setWaitingForAIProcess(true);
    int opened = 0;
    settingsopener::OpenSettingsAction open;
    open.setClosure([&] { ++opened; });
    makePane(nullptr, &open);
    select(record);
    QMessageBox* box = alert("Set OpenAI API Key");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Set OpenAI API Key");
    EXPECT_EQ(alertButtons(box), (QStringList{"Enter OpenAI API Key", "Cancel"}));
    EXPECT_FALSE(record->waitingForAIProcess());
    EXPECT_FALSE(record->currentlyAIProcessing());

    controlNamed<QAbstractButton>(box, "Enter OpenAI API Key")->click();
    EXPECT_FALSE(pane->controller()->showEnterOpenAIAPIKeyAlert());
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(processEventsUntil([&] { return opened == 1; }, 2000));
    EXPECT_EQ(requests, 0);
}

TEST_F(ScreenshotDetailViewTest, AFileThatIsGoneClearsThePreviousImageSaysSoInItsPlaceAndSendsNothing)
{
    const ScreenshotPtr shown = screenshot("shown");
    const ScreenshotPtr broken = screenshot("broken");
    const QString missing =
        "The image file “" + QFileInfo(broken->imageUrl()->toLocalFile()).fileName() + "” is missing.";
    QFile::remove(broken->imageUrl()->toLocalFile());
    makePane();
    select(shown);
    EXPECT_FALSE(imageView()->image().isNull());
    EXPECT_EQ(findControlNamed<QLabel>(pane.get(), "Image Problem"), nullptr);

    broken->setWaitingForAIProcess(true);
    ::testing::internal::CaptureStdout();
    select(broken);
    // Nothing of the previous screenshot stays on screen; the reason is there instead.
    EXPECT_TRUE(pane->image().isNull());
    EXPECT_EQ(findControlNamed<LiveTextImageView>(pane.get(), "Screenshot Image"), nullptr);
    const QLabel* problem = findControlNamed<QLabel>(pane.get(), "Image Problem");
    ASSERT_NE(problem, nullptr);
    EXPECT_TRUE(problem->isVisible());
    EXPECT_EQ(problem->text(), missing);
    EXPECT_GT(problem->height(), 0);

    QMessageBox* box = alert("AI Error");
    ::testing::internal::GetCapturedStdout();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->informativeText().endsWith("Details: " + missing)) << box->informativeText().toStdString();
    EXPECT_FALSE(broken->currentlyAIProcessing());
    EXPECT_EQ(requests, 0);

    // The row is kept: selecting another screenshot shows its image again and no reason.
    select(shown);
    EXPECT_FALSE(imageView()->image().isNull());
    EXPECT_EQ(findControlNamed<QLabel>(pane.get(), "Image Problem"), nullptr);
}

TEST_F(ScreenshotDetailViewTest, AHiddenPaneLetsGoOfItsImageAndShowsItAgainWithTheWordsItRead)
{
    const auto counting = std::make_shared<CountingText>();
    recognizer = counting;
    const ScreenshotPtr shown = screenshot("shown");
    const ScreenshotPtr other = screenshot("other");
    makePane();
    select(shown);
    ASSERT_TRUE(processEventsUntil([&] { return imageView()->hasLiveText(); }));

    pane->hide();
    EXPECT_TRUE(pane->image().isNull());
    EXPECT_TRUE(imageView()->image().isNull());
    pane->show();
    ASSERT_TRUE(processEventsUntil([&] { return pane->isImageCurrent(); }));
    EXPECT_FALSE(imageView()->image().isNull());
    EXPECT_EQ(imageView()->words().size(), 1u);
    EXPECT_EQ(counting->calls, 1);

    // Selected while hidden: an analysis asked for reads the screenshot's image itself and is sent.
    pane->hide();
    other->setWaitingForAIProcess(true);
    pane->setScreenshot(other);
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    EXPECT_TRUE(waitUntilProcessed(other));
}

TEST_F(ScreenshotDetailViewTest, ANewSelectionGivesUpTheLiveTextOfTheShownImageBeforeItsOwnImageIsRead)
{
    const auto endless = std::make_shared<EndlessText>();
    recognizer = endless;
    makePane();
    select(screenshot("shown"));
    ASSERT_TRUE(processEventsUntil([&] { return endless->started == 1; }));

    // No event is handled meanwhile, so the next image cannot have replaced the shown one.
    pane->setScreenshot(screenshot("next"));
    QDeadlineTimer deadline(5000);
    while (endless->givenUp == 0 && !deadline.hasExpired()) {
        QThread::msleep(2);
    }
    EXPECT_EQ(endless->givenUp, 1);
    EXPECT_FALSE(pane->isImageCurrent());
    EXPECT_FALSE(imageView()->image().isNull());
}

TEST_F(ScreenshotDetailViewTest, TabFromTheZoomSliderReachesTheImageWhoseTextTheKeysSelectAndCopy)
{
    recognizer = std::make_shared<CountingText>();
    const ScreenshotPtr record = screenshot("shot", {2000, 1500});
    makePane();
    pane->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(pane.get()));
    select(record);
    ASSERT_TRUE(processEventsUntil([&] { return imageView()->hasLiveText(); }));
    auto* slider = controlNamed<QSlider>(pane.get(), "Image Zoom");
    ASSERT_TRUE(slider->isEnabled());
    slider->setFocus(Qt::TabFocusReason);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    QTest::keyClick(slider, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), imageView());
    QTest::keyClick(imageView(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(imageView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "word");
}

TEST_F(ScreenshotDetailViewTest, ZoomIsStoredKeptInRangeAndOnlyForLargeImages)
{
    struct Case {
        QVariant stored;
        double zoom;
    };
    for (const Case& c : {Case{QVariant(), 0.6}, Case{5.0, 1.0}, Case{0.01, 0.2}, Case{"text", 0.6}, Case{0.4, 0.4}}) {
        SCOPED_TRACE(c.stored.toString().toStdString());
        if (c.stored.isValid()) {
            UserDefaults::setValue(UserDefaults::imageZoom, c.stored);
        } else {
            UserDefaults::remove(UserDefaults::imageZoom);
        }
        makePane();
        EXPECT_DOUBLE_EQ(pane->imageZoom(), c.zoom);
    }

    const ScreenshotPtr small = screenshot("small", {40, 30});
    const ScreenshotPtr large = screenshot("large", {3000, 2000});
    UserDefaults::remove(UserDefaults::imageZoom);
    makePane();
    QApplication::processEvents();
    auto* slider = controlNamed<QSlider>(pane.get(), "Image Zoom");
    ASSERT_NE(slider, nullptr);
    // The image area is laid out once it shows an image: the zoom follows its size when that arrives.
    select(small);
    EXPECT_TRUE(processEventsUntil([&] { return pane->effectiveImageZoom() == 1.0; }));
    EXPECT_FALSE(slider->isEnabled());
    select(large);
    EXPECT_TRUE(processEventsUntil([&] { return pane->effectiveImageZoom() == 0.6; }));
    EXPECT_TRUE(slider->isEnabled());
    slider->setValue(30);
    EXPECT_DOUBLE_EQ(imageView()->imageZoom(), 0.3);
    EXPECT_DOUBLE_EQ(UserDefaults::value(UserDefaults::imageZoom).toDouble(), 0.3);
}

TEST_F(ScreenshotDetailViewTest, SelectingShowsNameAndKeywordsWithoutSavingAndClearedKeywordsAreSaved)
{
    const ScreenshotPtr first = screenshot("first");
    const ScreenshotPtr second = screenshot("second");
    second->setKeywords(QString("alpha beta"));
    makePane();
    select(first);
    select(second);
    EXPECT_EQ(nameField()->text(), "second");
    EXPECT_EQ(keywordChips(), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(QFileInfo(second->imageUrl()->toLocalFile()).fileName(), "second.png");
    EXPECT_EQ(texts("SELECT name FROM screenshots ORDER BY id"), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(texts("SELECT ifnull(keywords, 'NULL') FROM screenshots ORDER BY id"),
              (std::vector<std::string>{"NULL", "alpha beta"}));

    // A chip is removed by pressing it.
    controlNamed<QPushButton>(pane.get(), "alpha")->click();
    QApplication::processEvents();
    controlNamed<QPushButton>(pane.get(), "beta")->click();
    EXPECT_EQ(keywordChips(), QStringList());
    EXPECT_EQ(texts("SELECT ifnull(keywords, 'NULL') FROM screenshots ORDER BY id"),
              (std::vector<std::string>{"NULL", ""}));
}

TEST_F(ScreenshotDetailViewTest, KeywordChipsThatWrapAreShownWithoutMovingTheSplitter)
{
    const ScreenshotPtr first = screenshot("first");
    makePane();
    select(first);
    QStringList words;
    for (int i = 0; i < 14; ++i) {
        words << QStringLiteral("keyword%1").arg(i);
    }
    // The AI's keywords arrive while the pane is shown; later the pane is narrowed.
    first->setKeywords(words.join(QLatin1Char(' ')));
    pane->setKeywords(words.join(QLatin1Char(' ')));
    for (const int width : {800, 520}) {
        SCOPED_TRACE(width);
        pane->resize(width, 900);
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
        ASSERT_EQ(keywordChips(), words);
        QLineEdit* field = keywordField();
        QWidget* editor = field->parentWidget();
        const QRect shown = editor->visibleRegion().boundingRect();
        const QRect fieldAt(field->mapTo(editor, QPoint(0, 0)), field->size());
        for (const QString& name : words + QStringList{"Add"}) {
            const QPushButton* chip = controlNamed<QPushButton>(pane.get(), name);
            ASSERT_NE(chip, nullptr);
            const QRect at(chip->mapTo(editor, QPoint(0, 0)), chip->size());
            EXPECT_TRUE(shown.contains(at)) << name.toStdString();
            if (name != "Add") {
                EXPECT_FALSE(at.intersects(fieldAt)) << name.toStdString();
            }
        }
    }
}

TEST_F(ScreenshotDetailViewTest, AnAnswerWithManyKeywordsAndLongTextsLeavesTheWindowItsHeightAndTheChipsScroll)
{
    const ScreenshotPtr record = screenshot("first", {1200, 800}, QString("some text"), QString("What is it?"));
    makePane();
    QMainWindow window;
    window.setCentralWidget(pane.get());
    const auto keepPane = qScopeGuard([&] { window.takeCentralWidget(); }); // the fixture deletes it
    // The room the pane has in the window on a 1024 x 600 screen.
    window.resize(500, 460);
    window.show();
    select(record);
    QStringList words;
    for (int i = 0; i < 50; ++i) {
        words << QStringLiteral("keyword%1").arg(i);
    }
    record->setAiAssistantResults(QString("answer ").repeated(3000));
    record->setDescription(QString("summary ").repeated(3000));
    pane->setKeywords(words.join(QLatin1Char(' ')));
    QTest::qWait(100);

    EXPECT_EQ(window.height(), 460) << "the window grew with its content";
    EXPECT_LE(window.minimumSizeHint().height(), 460);
    ASSERT_EQ(keywordChips().size(), 50);
    // Each chip and the field can still be reached: the keywords scroll within their section.
    auto* scroller = qobject_cast<QScrollArea*>(keywordField()->parentWidget()->parentWidget()->parentWidget());
    ASSERT_NE(scroller, nullptr);
    EXPECT_GT(scroller->verticalScrollBar()->maximum(), 0);
    scroller->ensureWidgetVisible(keywordField());
    // And the sections scroll within the pane: the field, and the summary below it, come into view.
    auto* split = pane->findChild<QSplitter*>();
    auto* sections = qobject_cast<QScrollArea*>(split->parentWidget()->parentWidget());
    ASSERT_NE(sections, nullptr);
    sections->ensureWidgetVisible(keywordField());
    EXPECT_FALSE(keywordField()->visibleRegion().isEmpty());
    QWidget* summary = split->widget(split->count() - 1);
    sections->ensureWidgetVisible(summary);
    EXPECT_FALSE(summary->visibleRegion().isEmpty());
}

} // namespace
} // namespace lumetrove::testing
