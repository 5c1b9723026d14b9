#include "lumetrove/detail/ScreenshotDetailView.h"

#include "aiclient/OpenAI.h"
#include "lumetrove/app/ProcessButtonView.h"
#include "lumetrove/detail/AIResultApplication.h"
#include "lumetrove/detail/KeywordEditorView.h"
#include "lumetrove/detail/LiveTextImageView.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "lumetrove/platform/UserDefaults.h"
#include "settingsopener/OpenSettingsAction.h"
#include "tests/aiclient/LoopbackServer.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <atomic>
#include <nlohmann/json.hpp>

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

/// The body of a chat completion whose one choice holds `content`.
std::string chatReply(const nlohmann::json& answer)
{
    nlohmann::json reply = {
        {"id", "chatcmpl-1"},
        {"object", "chat.completion"},
        {"created", 1700000000},
        {"model", "gpt-4o"},
        {"choices",
         {{{"index", 0}, {"message", {{"role", "assistant"}, {"content", answer.dump()}}}, {"finish_reason", "stop"}}}},
    };
    return reply.dump();
}

class ScreenshotDetailViewTest : public OpenLibraryTest {
protected:
    void SetUp() override
    {
        OpenLibraryTest::SetUp();
        UserDefaults::setValue(UserDefaults::openAIAPIKey, "sk-test");
        server.onPost("/v1/chat/completions", [this](const httplib::Request& request, httplib::Response& response) {
            ++requests;
            const int delay = delayMs;
            if (delay > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            }
            std::lock_guard lock(replyMutex);
            response.status = status;
            response.set_content(answerFor ? answerFor(request) : reply, "application/json");
        });
        setAnswer({{"name", "sales_report-final"}, {"keywords", "Sales report 2024 q3"}, {"description", "A chart."}});
    }

    void TearDown() override
    {
        pane.reset();
        UserDefaults::remove(UserDefaults::openAIAPIKey);
        UserDefaults::remove(UserDefaults::imageZoom);
        OpenLibraryTest::TearDown();
    }

    void setAnswer(const nlohmann::json& answer)
    {
        std::lock_guard lock(replyMutex);
        reply = chatReply(answer);
    }

    /// A stored screenshot whose image file is a real PNG of the given size.
    ScreenshotPtr screenshot(const QString& name, QSize size = {64, 48}, const QString& text = "some text")
    {
        const qint64 id = addScreenshot(*store, name, text);
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.save(screenshotsDirectory() + "/" + name + ".png", "PNG");
        ScreenshotsListManager list(store);
        waitForList(list);
        for (const ScreenshotPtr& record : list.screenshots()) {
            if (record->id() == id) {
                return record;
            }
        }
        ADD_FAILURE() << "screenshot not loaded";
        return nullptr;
    }

    ScreenshotDetailView& makePane(SettingsViewModel* settings = nullptr,
                                   settingsopener::OpenSettingsAction* open = nullptr)
    {
        pane = std::make_unique<ScreenshotDetailView>(
            ScreenshotDetailView::Environment{nullptr, settings, open, recognizer});
        pane->model()->setClientFactory([this](aiclient::Configuration configuration) {
            return std::make_shared<aiclient::OpenAI>(aiclient::Configuration(
                configuration.token(), std::nullopt, "127.0.0.1", server.port(), "http", timeoutSeconds));
        });
        pane->resize(800, 900);
        pane->show();
        return *pane;
    }

    void select(const ScreenshotPtr& record)
    {
        pane->setScreenshot(record);
        ASSERT_TRUE(processEventsUntil([&] { return pane->isImageCurrent(); }));
    }

    bool waitUntilProcessed(const ScreenshotPtr& record)
    {
        return processEventsUntil([&] { return !record->currentlyAIProcessing() && !pane->model()->isLoading(); });
    }

    QString screenshotsDirectory() const { return libraryDirectory() + "/Screenshots"; }

    /// Column 0 of each row of `sql`, texts without their quotes.
    std::vector<std::string> texts(const std::string& sql)
    {
        std::vector<std::string> values = column(sql);
        for (std::string& value : values) {
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
        }
        return values;
    }

    QStringList alertButtons() const
    {
        QStringList texts;
        if (pane->alert()) {
            for (QAbstractButton* button : pane->alert()->buttons()) {
                texts << button->text();
            }
        }
        return texts;
    }

    void clickAlertButton(const QString& text)
    {
        for (QAbstractButton* button : pane->alert()->buttons()) {
            if (button->text() == text) {
                button->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << text.toStdString();
    }

    std::atomic<int> requests{0};
    std::atomic<int> delayMs{0};
    std::atomic<int> status{200};
    double timeoutSeconds = 20;
    std::mutex replyMutex;
    std::string reply;
    /// When set, makes the answer of each request instead of `reply` (called under `replyMutex`).
    std::function<std::string(const httplib::Request&)> answerFor;
    std::shared_ptr<TextRecognizer> recognizer = std::make_shared<NoText>();
    std::unique_ptr<ScreenshotDetailView> pane;
    // Last, so that it stops (and its handlers end) before the members they use go.
    aiclient::testing::LoopbackServer server;
};

TEST_F(ScreenshotDetailViewTest, ProcessingAppliesTheAnswerRenamesTheFileAndSavesTheRow)
{
    const ScreenshotPtr record = screenshot("shot");
    makePane();
    select(record);
    auto* button = pane->findChild<QAbstractButton*>("processButton");
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_TRUE(record->currentlyAIProcessing());
    ASSERT_TRUE(waitUntilProcessed(record));

    EXPECT_EQ(requests, 1);
    EXPECT_EQ(record->name(), "sales report final");
    EXPECT_EQ(pane->screenshotName(), "sales report final");
    EXPECT_EQ(QFileInfo(record->imageUrl()->toLocalFile()).fileName(), "Screenshot - sales report final.png");
    EXPECT_TRUE(QFileInfo::exists(record->imageUrl()->toLocalFile()));
    EXPECT_EQ(texts("SELECT name || '|' || description || '|' || keywords FROM screenshots"),
              std::vector<std::string>{"sales report final|A chart.|sales report q3"});
    EXPECT_EQ(pane->keywords(), "sales report q3");
    EXPECT_TRUE(record->aiResults()->endsWith("\n\n"));

    // The answer's keywords did not swallow the user's next edit.
    pane->keywordEditor()->setNewKeyword("extra");
    pane->keywordEditor()->addKeywords();
    EXPECT_EQ(texts("SELECT keywords FROM screenshots"), std::vector<std::string>{"sales report q3 extra"});
}

TEST_F(ScreenshotDetailViewTest, KeywordsEqualToTheShownOnesLeaveTheNextEditSaved)
{
    const ScreenshotPtr record = screenshot("shot");
    record->setKeywords(QString("sales report q3"));
    makePane();
    select(record);
    pane->startAIProcessing();
    ASSERT_TRUE(waitUntilProcessed(record));
    pane->keywordEditor()->setNewKeyword("later");
    pane->keywordEditor()->addKeywords();
    EXPECT_EQ(record->keywords(), "sales report q3 later");
    EXPECT_EQ(texts("SELECT keywords FROM screenshots"), std::vector<std::string>{"sales report q3 later"});
}

TEST_F(ScreenshotDetailViewTest, HostileModelNamesKeepTheFileInTheScreenshotsDirectory)
{
    const ScreenshotPtr record = screenshot("shot");
    makePane();
    select(record);
    for (const QString& name : {QString("../../x"), QString("a/b"), QString(300, QChar('z'))}) {
        SCOPED_TRACE(name.left(12).toStdString());
        setAnswer({{"name", name.toStdString()}, {"keywords", "k"}, {"description", "d"}});
        pane->startAIProcessing();
        ASSERT_TRUE(waitUntilProcessed(record));
        EXPECT_EQ(record->name(), name.left(maximumAINameLength));
        const QFileInfo file(record->imageUrl()->toLocalFile());
        EXPECT_TRUE(file.exists());
        EXPECT_EQ(file.absolutePath(), QFileInfo(screenshotsDirectory()).absoluteFilePath());
    }
    EXPECT_EQ(QDir(screenshotsDirectory()).entryList(QDir::Files).size(), 1);
}

TEST_F(ScreenshotDetailViewTest, AnAnswersNameAndKeywordsAreBoundedAndLoseControlAndDirectionCharacters)
{
    const ScreenshotPtr record = screenshot("shot");
    makePane();
    select(record);
    // A name that would read backwards, with a NUL and a line break, far longer than any name.
    const std::string rightToLeft = "\u202e", isolate = "\u2066", nul(1, '\0');
    std::string keywords = "Alpha\u202dbeta gam" + nul + "ma line\nbreak 12345 ";
    for (int index = 0; index < 20'000; ++index) {
        keywords += "word" + std::to_string(index) + " ";
    }
    keywords += std::string(100'000, 'k');
    setAnswer({{"name", rightToLeft + "evil" + nul + "\nname" + isolate + std::string(1'000'000, 'x')},
               {"keywords", keywords},
               {"description", "d"}});
    pane->startAIProcessing();
    ASSERT_TRUE(waitUntilProcessed(record));

    const QString expectedName = "evil name" + QString(maximumAINameLength - 9, QChar('x'));
    EXPECT_EQ(record->name(), expectedName);
    EXPECT_EQ(pane->screenshotName(), expectedName);
    const QStringList stored = record->keywords()->split(' ');
    ASSERT_EQ(stored.size(), maximumAIKeywordCount);
    EXPECT_EQ(stored.mid(0, 5), (QStringList{"alphabeta", "gamma", "line", "break", "word0"}));
    EXPECT_EQ(stored.last(), QString("word%1").arg(maximumAIKeywordCount - 4 - 1));
    EXPECT_EQ(pane->keywords(), *record->keywords());
    EXPECT_EQ(pane->keywordEditor()->keywords().size(), maximumAIKeywordCount);
    EXPECT_EQ(texts("SELECT name || '|' || keywords FROM screenshots"),
              std::vector<std::string>{(expectedName + "|" + *record->keywords()).toStdString()});
    EXPECT_EQ(QFileInfo(record->imageUrl()->toLocalFile()).fileName(),
              screenshotFileBaseName("Screenshot - " + expectedName) + ".png");

    // Each keyword keeps at most its share of characters.
    setAnswer({{"name", "n"}, {"keywords", std::string(500, 'q') + " short"}, {"description", "d"}});
    pane->startAIProcessing();
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(record->keywords(), QString(maximumAIKeywordLength, QChar('q')) + " short");
}

TEST_F(ScreenshotDetailViewTest, AnAnswerTheLibraryCannotKeepIsNotShownAndIsTold)
{
    QObject observer;
    QStringList problems;
    NotificationCenter::defaultCenter().addObserver(
        libraryProblemNotification, &observer,
        [&](const Notification& notification) { problems << notification.userInfo.value("message").toString(); });
    struct Case {
        const char* what;
        std::string refusal;
        std::string reason;
    };
    const std::vector<Case> cases{
        {"read-only", "PRAGMA query_only = 1;", "readonly database"},
        // A full disk: the name may still fit where the row is, the long summary does not.
        {"full disk", "PRAGMA max_page_count = ", "database or disk is full"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const ScreenshotPtr record = screenshot(QString("shot %1").arg(test.what));
        record->setKeywords(QString("old"));
        makePane();
        select(record);
        problems.clear();
        const auto pages = std::get<std::int64_t>(*store->db()->scalar("PRAGMA page_count"));
        store->db()->executeScript(test.refusal.back() == ';' ? test.refusal
                                                              : test.refusal + std::to_string(pages) + ";");
        setAnswer({{"name", "new name"}, {"keywords", "fresh words"}, {"description", std::string(20'000, 'd')}});
        ::testing::internal::CaptureStdout();
        pane->startAIProcessing();
        ASSERT_TRUE(waitUntilProcessed(record));
        ::testing::internal::GetCapturedStdout();

        // What the window shows is what the row holds.
        const std::vector<std::string> row = texts("SELECT ifnull(name, '') || '|' || ifnull(keywords, '') || '|' || "
                                                   "ifnull(description, '') FROM screenshots WHERE id = " +
                                                   std::to_string(record->id()));
        ASSERT_EQ(row.size(), 1u);
        const QString shown = record->name().value_or("") + "|" + record->keywords().value_or("") + "|" +
                              record->description().value_or("");
        EXPECT_EQ(shown.toStdString(), row.front());
        EXPECT_EQ(record->description(), std::nullopt);
        EXPECT_EQ(pane->screenshotName(), record->name());
        EXPECT_EQ(pane->keywords(), record->keywords().value_or(""));
        EXPECT_EQ(QUrl::fromLocalFile(record->imageUrl()->toLocalFile()).toString(QUrl::FullyEncoded).toStdString(),
                  texts("SELECT path FROM screenshots WHERE id = " + std::to_string(record->id())).front());
        EXPECT_TRUE(QFileInfo::exists(record->imageUrl()->toLocalFile()));
        ASSERT_FALSE(problems.isEmpty());
        EXPECT_THAT(problems.last().toStdString(), ::testing::HasSubstr(test.reason));

        store->db()->executeScript("PRAGMA query_only = 0; PRAGMA max_page_count = 1000000;");
    }
}

TEST_F(ScreenshotDetailViewTest, AnAnswerLandsOnItsOwnScreenshotAndTheIndicatorFollowsTheShownOne)
{
    const ScreenshotPtr first = screenshot("first");
    const ScreenshotPtr second = screenshot("second");
    makePane();
    auto* button = pane->findChild<ProcessButtonView*>("processButton");
    ASSERT_NE(button, nullptr);
    select(first);
    delayMs = 600;
    pane->startAIProcessing();
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    EXPECT_TRUE(button->showsBusyFace());

    // Moving away neither drops the request nor moves its indicator; coming back shows it again.
    select(second);
    EXPECT_TRUE(first->currentlyAIProcessing());
    EXPECT_FALSE(second->currentlyAIProcessing());
    EXPECT_FALSE(button->showsBusyFace());
    select(first);
    EXPECT_TRUE(button->showsBusyFace());
    select(second);
    ASSERT_TRUE(waitUntilProcessed(first));

    EXPECT_EQ(first->name(), "sales report final");
    EXPECT_EQ(QFileInfo(first->imageUrl()->toLocalFile()).fileName(), "Screenshot - sales report final.png");
    EXPECT_EQ(texts("SELECT name FROM screenshots ORDER BY id"),
              (std::vector<std::string>{"sales report final", "second"}));
    EXPECT_EQ(second->name(), "second");
    EXPECT_EQ(pane->screenshotName(), "second");
    EXPECT_EQ(pane->keywords(), "");
    EXPECT_FALSE(button->showsBusyFace());
    EXPECT_EQ(pane->alert(), nullptr);
}

TEST_F(ScreenshotDetailViewTest, AStartWhileAnotherScreenshotsRequestRunsIsSentAfterItWithItsOwnImage)
{
    const ScreenshotPtr first = screenshot("first", {64, 48});
    const ScreenshotPtr second = screenshot("second", {30, 90});
    std::vector<QSize> sentSizes;
    answerFor = [&](const httplib::Request& request) {
        const auto body = nlohmann::json::parse(request.body);
        const std::string url = body["messages"].back()["content"][0]["image_url"]["url"];
        sentSizes.push_back(QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString(url.substr(23)))).size());
        return chatReply(
            {{"name", "answer " + std::to_string(sentSizes.size())}, {"keywords", "k"}, {"description", "d"}});
    };
    delayMs = 300;
    makePane();
    select(first);
    pane->startAIProcessing();
    select(second);
    pane->startAIProcessing();
    EXPECT_TRUE(pane->isAnalysing(first));
    EXPECT_TRUE(pane->isAnalysing(second));
    // The second is sent once the first has its answer, while a third screenshot is shown.
    pane->setScreenshot(nullptr);
    ASSERT_TRUE(waitUntilProcessed(first));
    ASSERT_TRUE(waitUntilProcessed(second));

    EXPECT_EQ(first->name(), "answer 1");
    EXPECT_EQ(second->name(), "answer 2");
    std::lock_guard lock(replyMutex);
    EXPECT_EQ(sentSizes, (std::vector<QSize>{{64, 48}, {30, 90}}));
}

TEST_F(ScreenshotDetailViewTest, ASecondStartKeepsTheProcessingStateUntilItsAnswer)
{
    const ScreenshotPtr record = screenshot("shot");
    makePane();
    select(record);
    delayMs = 600;
    pane->startAIProcessing();
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    pane->startAIProcessing();
    EXPECT_TRUE(record->currentlyAIProcessing());
    // The second request goes out once the first one's outcome has come and been dropped.
    ASSERT_TRUE(processEventsUntil([&] { return requests == 2; }));
    QTest::qWait(50);
    EXPECT_TRUE(record->currentlyAIProcessing());
    EXPECT_EQ(record->name(), "shot");
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(record->name(), "sales report final");
    EXPECT_EQ(record->aiResults()->count("\n\n"), 1);
}

TEST_F(ScreenshotDetailViewTest, ATimedOutRequestOffersRetry)
{
    const ScreenshotPtr record = screenshot("shot");
    timeoutSeconds = 0.3;
    makePane();
    select(record);
    delayMs = 1500;
    pane->startAIProcessing();
    ASSERT_TRUE(processEventsUntil([&] { return pane->alert() != nullptr; }));
    EXPECT_FALSE(record->currentlyAIProcessing());
    EXPECT_EQ(pane->alert()->text(), "AI Error");
    EXPECT_TRUE(pane->alert()->informativeText().startsWith("The request timed out."));
    EXPECT_EQ(alertButtons(), (QStringList{"Retry", "Cancel"}));
    EXPECT_EQ(pane->alert()->windowModality(), Qt::WindowModal);

    delayMs = 0;
    clickAlertButton("Retry");
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(record->name(), "sales report final");
}

TEST_F(ScreenshotDetailViewTest, AFailureOfAScreenshotNoLongerShownIsRetriedForIt)
{
    const ScreenshotPtr first = screenshot("first");
    const ScreenshotPtr second = screenshot("second");
    timeoutSeconds = 0.3;
    makePane();
    select(first);
    delayMs = 1500;
    pane->startAIProcessing();
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    select(second);
    ASSERT_TRUE(processEventsUntil([&] { return pane->alert() != nullptr; }));
    EXPECT_FALSE(first->currentlyAIProcessing());

    delayMs = 0;
    clickAlertButton("Retry");
    EXPECT_TRUE(first->currentlyAIProcessing());
    EXPECT_FALSE(second->currentlyAIProcessing());
    ASSERT_TRUE(waitUntilProcessed(first));
    EXPECT_EQ(first->name(), "sales report final");
    EXPECT_EQ(second->name(), "second");
}

TEST_F(ScreenshotDetailViewTest, OtherFailuresShowTheDetailsWithOneButton)
{
    const ScreenshotPtr record = screenshot("shot");
    makePane();
    select(record);
    {
        std::lock_guard lock(replyMutex);
        reply = "not json";
    }
    pane->startAIProcessing();
    ASSERT_TRUE(processEventsUntil([&] { return pane->alert() != nullptr; }));
    EXPECT_TRUE(pane->alert()->informativeText().contains("\n\nDetails: "));
    EXPECT_EQ(alertButtons(), QStringList{"OK"});
    EXPECT_FALSE(record->currentlyAIProcessing());
    EXPECT_EQ(record->name(), "shot");
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
    ASSERT_NE(pane->alert(), nullptr);
    EXPECT_EQ(pane->alert()->text(), "Set OpenAI API Key");
    EXPECT_EQ(alertButtons(), (QStringList{"Enter OpenAI API Key", "Cancel"}));
    EXPECT_FALSE(record->waitingForAIProcess());
    EXPECT_FALSE(record->currentlyAIProcessing());

    clickAlertButton("Enter OpenAI API Key");
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(processEventsUntil([&] { return opened == 1; }, 2000));
    EXPECT_EQ(requests, 0);
}

TEST_F(ScreenshotDetailViewTest, AFileThatFailsToLoadClearsThePreviousImageAndSendsNothing)
{
    const ScreenshotPtr shown = screenshot("shown");
    const ScreenshotPtr broken = screenshot("broken");
    QFile::remove(broken->imageUrl()->toLocalFile());
    makePane();
    select(shown);
    EXPECT_FALSE(pane->image().isNull());

    broken->setWaitingForAIProcess(true);
    select(broken);
    EXPECT_TRUE(pane->image().isNull());
    EXPECT_TRUE(pane->imageView()->image().isNull());
    QTest::qWait(100);
    EXPECT_EQ(requests, 0);
    EXPECT_FALSE(broken->currentlyAIProcessing());
}

TEST_F(ScreenshotDetailViewTest, AHiddenPaneLetsGoOfItsImageAndShowsItAgainWithTheWordsItRead)
{
    const auto counting = std::make_shared<CountingText>();
    recognizer = counting;
    const ScreenshotPtr shown = screenshot("shown");
    const ScreenshotPtr other = screenshot("other");
    makePane();
    select(shown);
    ASSERT_TRUE(processEventsUntil([&] { return pane->imageView()->hasLiveText(); }));

    pane->hide();
    EXPECT_TRUE(pane->image().isNull());
    EXPECT_TRUE(pane->imageView()->image().isNull());
    pane->show();
    ASSERT_TRUE(processEventsUntil([&] { return pane->isImageCurrent(); }));
    EXPECT_FALSE(pane->imageView()->image().isNull());
    EXPECT_EQ(pane->imageView()->words().size(), 1u);
    EXPECT_EQ(counting->calls, 1);

    // Selected while hidden: an analysis asked for reads the image at once and is sent.
    pane->hide();
    other->setWaitingForAIProcess(true);
    pane->setScreenshot(other);
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    EXPECT_TRUE(waitUntilProcessed(other));
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
    auto* slider = pane->findChild<QSlider*>();
    // The image area is laid out once it shows an image: the zoom follows its size when that arrives.
    select(small);
    EXPECT_TRUE(processEventsUntil([&] { return pane->effectiveImageZoom() == 1.0; }));
    EXPECT_FALSE(slider->isEnabled());
    select(large);
    EXPECT_TRUE(processEventsUntil([&] { return pane->effectiveImageZoom() == 0.6; }));
    EXPECT_TRUE(slider->isEnabled());
    slider->setValue(30);
    EXPECT_DOUBLE_EQ(pane->imageView()->imageZoom(), 0.3);
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
    EXPECT_EQ(pane->screenshotName(), "second");
    EXPECT_EQ(pane->keywords(), "alpha beta");
    EXPECT_EQ(pane->keywordEditor()->keywords(), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(QFileInfo(second->imageUrl()->toLocalFile()).fileName(), "second.png");
    EXPECT_EQ(texts("SELECT name FROM screenshots ORDER BY id"), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(texts("SELECT ifnull(keywords, 'NULL') FROM screenshots ORDER BY id"),
              (std::vector<std::string>{"NULL", "alpha beta"}));

    pane->keywordEditor()->removeKeyword("alpha");
    pane->keywordEditor()->removeKeyword("beta");
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
        KeywordEditorView* editor = pane->keywordEditor();
        const QList<QPushButton*> chips = editor->findChildren<QPushButton*>();
        ASSERT_EQ(std::count_if(chips.begin(), chips.end(), [](QPushButton* b) { return b->text() != "Add"; }),
                  words.size());
        const QRect shown = editor->visibleRegion().boundingRect();
        const QWidget* field = editor->findChild<QLineEdit*>();
        for (const QPushButton* chip : chips) {
            const QRect at(chip->mapTo(editor, QPoint(0, 0)), chip->size());
            EXPECT_TRUE(shown.contains(at)) << chip->text().toStdString();
            if (chip->text() != "Add") {
                EXPECT_FALSE(at.intersects(QRect(field->mapTo(editor, QPoint(0, 0)), field->size())))
                    << chip->text().toStdString();
            }
        }
    }
}

} // namespace
} // namespace lumetrove::testing
