#include "lumetrove/ai/AIProcessingController.h"

#include "lumetrove/ai/AIResultApplication.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "tests/lumetrove/ai/AIServiceTest.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <gmock/gmock.h>

namespace lumetrove::testing {
namespace {

class AIProcessingControllerTest : public AIServiceTest {
protected:
    void SetUp() override
    {
        AIServiceTest::SetUp();
        makeController();
    }

    void TearDown() override
    {
        controller.reset();
        AIServiceTest::TearDown();
    }

    void makeController()
    {
        controller = std::make_unique<AIProcessingController>();
        useLoopbackService(*controller->model());
    }

    bool waitUntilProcessed(const ScreenshotPtr& record, int timeoutMs = 10000)
    {
        return processEventsUntil([&] { return !record->currentlyAIProcessing() && !controller->model()->isLoading(); },
                                  timeoutMs);
    }

    /// Notes in `applied` each answer the controller tells it applied, and whether the library kept it.
    void recordApplied()
    {
        QObject::connect(controller.get(), &AIProcessingController::aiResultApplied,
                         [this](const ScreenshotPtr& screenshot, const ScreenshotInfoResult&, bool kept) {
                             applied.emplace_back(screenshot, kept);
                         });
    }

    std::unique_ptr<AIProcessingController> controller;
    std::vector<std::pair<ScreenshotPtr, bool>> applied;
};

TEST_F(AIProcessingControllerTest, AnAnswerIsAppliedToItsScreenshotWhichRenamesTheFileAndSavesTheRow)
{
    const ScreenshotPtr record = screenshot("shot", {64, 48});
    record->setWaitingForAIProcess(true);
    recordApplied();
    std::vector<QSize> sent;
    answerFor = [&](const httplib::Request& request) {
        sent.push_back(sentImageSize(request.body));
        return reply;
    };
    // No image at hand: the controller reads the screenshot's own file.
    controller->startAIProcessing(record);
    EXPECT_FALSE(record->waitingForAIProcess());
    EXPECT_TRUE(record->currentlyAIProcessing());
    EXPECT_TRUE(controller->isAnalysing(record));
    EXPECT_EQ(controller->screenshotSelectedWhenAIProcessStarted(), record);
    ASSERT_TRUE(waitUntilProcessed(record));

    EXPECT_EQ(requests, 1);
    EXPECT_FALSE(controller->isAnalysing(record));
    EXPECT_EQ(record->name(), "sales report final");
    EXPECT_EQ(QFileInfo(record->imageUrl()->toLocalFile()).fileName(), "Screenshot - sales report final.png");
    EXPECT_TRUE(QFileInfo::exists(record->imageUrl()->toLocalFile()));
    EXPECT_EQ(texts("SELECT name || '|' || description || '|' || keywords FROM screenshots"),
              std::vector<std::string>{"sales report final|A chart.|sales report q3"});
    EXPECT_TRUE(record->aiResults()->endsWith("\n\n"));
    EXPECT_EQ(applied, (std::vector<std::pair<ScreenshotPtr, bool>>{{record, true}}));
    std::lock_guard lock(replyMutex);
    EXPECT_EQ(sent, std::vector<QSize>{QSize(64, 48)});
}

TEST_F(AIProcessingControllerTest, NamesAreMadeReadableAndAssistantAnswersFollowTheirRules)
{
    const QString unable = unableToProcessText();
    struct Case {
        const char* what;
        std::optional<QString> text;
        std::optional<QString> task;
        nlohmann::json answer;
        QString name;
        std::optional<QString> assistantResults;
    };
    const nlohmann::json plain = {{"name", "n"}, {"keywords", "k"}, {"description", "d"}};
    auto with = [&](nlohmann::json extra) {
        nlohmann::json answer = plain;
        answer.update(extra);
        return answer;
    };
    const std::vector<Case> cases{
        {"underscores and inner hyphens", "t", std::nullopt, with({{"name", "sales_report-final"}}),
         "sales report final", std::nullopt},
        {"hyphen with an underscore beside it", "t", std::nullopt, with({{"name", "re-use_case"}}), "re use case",
         std::nullopt},
        {"hyphens at the edges or beside a blank stay", "t", std::nullopt, with({{"name", "-final a - b"}}),
         "-final a - b", std::nullopt},
        {"a preset task without text", "", "Summarize this", with({{"aiAssistantResults", "an answer"}}), "n",
         "No text found."},
        {"an open question without text", "", "What is this?", with({{"aiAssistantResults", "an answer"}}), "n",
         "an answer"},
        {"a question the model left unanswered", "", "What is this?", plain, "n", unable},
        {"no recognised text at all is not empty text", std::nullopt, "Summarize this",
         with({{"aiAssistantResults", "an answer"}}), "n", "an answer"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const ScreenshotPtr record =
            screenshot(QString("shot %1").arg(&test - cases.data()), {8, 8}, test.text, test.task);
        controller->applyAIResult(record, decodeScreenshotInfoResult(QString::fromStdString(test.answer.dump())));
        EXPECT_EQ(record->name(), test.name);
        EXPECT_EQ(record->aiAssistantResults(), test.assistantResults);
        EXPECT_EQ(texts("SELECT ifnull(ai_assistant_results, 'NULL') FROM screenshots WHERE id = " +
                        std::to_string(record->id())),
                  std::vector<std::string>{test.assistantResults.value_or("NULL").toStdString()});
    }
}

TEST_F(AIProcessingControllerTest, ALaterAnswerAppendsItsRawReplyAndKeepsTheStoredAssistantAnswer)
{
    const ScreenshotPtr record = screenshot("shot", {64, 48}, QString("text"), QString("what is this"));
    setAnswer({{"name", "first"},
               {"keywords", "k"},
               {"description", "d"},
               {"aiAssistantResults", "the first answer"},
               {"aiAssistantTask", "What is this?"}});
    controller->startAIProcessing(record);
    ASSERT_TRUE(waitUntilProcessed(record));
    const QString firstReply = *record->aiResults();
    EXPECT_EQ(record->aiAssistantResults(), "the first answer");
    EXPECT_EQ(record->aiAssistantTask(), "What is this?");

    setAnswer({{"name", "second"}, {"keywords", "k"}, {"description", "d"}, {"aiAssistantResults", "another"}});
    controller->startAIProcessing(record);
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(record->name(), "second");
    EXPECT_EQ(record->aiAssistantResults(), "the first answer");
    EXPECT_TRUE(record->aiResults()->startsWith(firstReply));
    EXPECT_EQ(record->aiResults()->count("\n\n"), 2);
}

TEST_F(AIProcessingControllerTest, HostileModelNamesKeepTheFileInTheScreenshotsDirectory)
{
    const ScreenshotPtr record = screenshot("shot");
    for (const QString& name : {QString("../../x"), QString("a/b"), QString(300, QChar('z'))}) {
        SCOPED_TRACE(name.left(12).toStdString());
        setAnswer({{"name", name.toStdString()}, {"keywords", "k"}, {"description", "d"}});
        controller->startAIProcessing(record);
        ASSERT_TRUE(waitUntilProcessed(record));
        EXPECT_EQ(record->name(), name.left(maximumAINameLength));
        const QFileInfo file(record->imageUrl()->toLocalFile());
        EXPECT_TRUE(file.exists());
        EXPECT_EQ(file.absolutePath(), QFileInfo(screenshotsDirectory()).absoluteFilePath());
    }
    EXPECT_EQ(QDir(screenshotsDirectory()).entryList(QDir::Files).size(), 1);
}

TEST_F(AIProcessingControllerTest, AnAnswersNameAndKeywordsAreBoundedAndLoseControlAndDirectionCharacters)
{
    const ScreenshotPtr record = screenshot("shot");
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
    controller->startAIProcessing(record);
    // An answer of megabytes takes its time to arrive and decode, more so on a loaded machine.
    ASSERT_TRUE(waitUntilProcessed(record, 60000));

    const QString expectedName = "evil name" + QString(maximumAINameLength - 9, QChar('x'));
    EXPECT_EQ(record->name(), expectedName);
    const QStringList stored = record->keywords()->split(' ');
    ASSERT_EQ(stored.size(), maximumAIKeywordCount);
    EXPECT_EQ(stored.mid(0, 5), (QStringList{"alphabeta", "gamma", "line", "break", "word0"}));
    EXPECT_EQ(stored.last(), QString("word%1").arg(maximumAIKeywordCount - 4 - 1));
    EXPECT_EQ(texts("SELECT name || '|' || keywords FROM screenshots"),
              std::vector<std::string>{(expectedName + "|" + *record->keywords()).toStdString()});
    EXPECT_EQ(QFileInfo(record->imageUrl()->toLocalFile()).fileName(),
              screenshotFileBaseName("Screenshot - " + expectedName) + ".png");

    // Each keyword keeps at most its share of characters.
    setAnswer({{"name", "n"}, {"keywords", std::string(500, 'q') + " short"}, {"description", "d"}});
    controller->startAIProcessing(record);
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(record->keywords(), QString(maximumAIKeywordLength, QChar('q')) + " short");

    // Keywords listed with commas or semicolons, as models often write them, lose the separators: stored and
    // shown as words between blanks, with what a bare comma held dropped like any one-letter word.
    setAnswer(
        {{"name", "n"}, {"keywords", "Invoice, receipt,tax; a, 2024, \uFF0C bill\u3001paid"}, {"description", "d"}});
    controller->startAIProcessing(record);
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(record->keywords(), QStringLiteral("invoice receipt tax bill paid"));
}

TEST_F(AIProcessingControllerTest, AnAnswersLongTextsAreCutSoThePaneLaysThemOutAtOnce)
{
    // One unbroken word of a megabyte would hold up the summary's layout for minutes; a cut never splits
    // the surrogate pair that straddles it.
    const ScreenshotPtr record = screenshot("shot");
    const std::string clef = "\U0001D11E";
    const std::string straddling = std::string(maximumAITextLength - 1, 'a') + clef + std::string(1'000'000, 'b');
    setAnswer({{"name", "n"},
               {"keywords", "k"},
               {"description", std::string(1'000'000, 'd')},
               {"aiAssistantResults", straddling},
               {"aiAssistantTask", "t"}});
    controller->startAIProcessing(record);
    ASSERT_TRUE(waitUntilProcessed(record, 60000));
    // Compared whole, but never printed: a failure would print megabytes.
    EXPECT_TRUE(record->description() == QString(maximumAITextLength, QChar('d')));
    EXPECT_TRUE(record->aiAssistantResults() == QString(maximumAITextLength - 1, QChar('a')));
    EXPECT_EQ(
        texts("SELECT length(description) || ' ' || length(ai_assistant_results) FROM screenshots"),
        std::vector<std::string>{std::to_string(maximumAITextLength) + " " + std::to_string(maximumAITextLength - 1)});
}

TEST_F(AIProcessingControllerTest, AnAnswersTextsKeepTheirLinesAndLoseOtherControlCharacters)
{
    // A NUL kept in a summary ends it for SQLite's own functions: length() read 1 for "x\0y".
    const ScreenshotPtr record = screenshot("shot");
    const std::string nul(1, '\0');
    setAnswer({{"name", "n"},
               {"keywords", "k"},
               {"description", "first" + nul + "\x01 line\n\tsecond\x7f"},
               {"aiAssistantResults", "an" + nul + "swer"},
               {"aiAssistantTask", "t"}});
    controller->startAIProcessing(record);
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(record->description(), QString("first line\n\tsecond"));
    EXPECT_EQ(texts("SELECT length(description) || ' ' || ai_assistant_results FROM screenshots"),
              std::vector<std::string>{"18 answer"});
}

TEST_F(AIProcessingControllerTest, AnAnswerTheLibraryCannotKeepIsNotKeptAndIsTold)
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
        makeController();
        recordApplied();
        applied.clear();
        problems.clear();
        const auto pages = std::get<std::int64_t>(*store->db()->scalar("PRAGMA page_count"));
        store->db()->executeScript(test.refusal.back() == ';' ? test.refusal
                                                              : test.refusal + std::to_string(pages) + ";");
        setAnswer({{"name", "new name"}, {"keywords", "fresh words"}, {"description", std::string(20'000, 'd')}});
        ::testing::internal::CaptureStdout();
        controller->startAIProcessing(record);
        ASSERT_TRUE(waitUntilProcessed(record));
        ::testing::internal::GetCapturedStdout();

        // The record holds what the row holds.
        const std::vector<std::string> row = texts("SELECT ifnull(name, '') || '|' || ifnull(keywords, '') || '|' || "
                                                   "ifnull(description, '') FROM screenshots WHERE id = " +
                                                   std::to_string(record->id()));
        ASSERT_EQ(row.size(), 1u);
        const QString held = record->name().value_or("") + "|" + record->keywords().value_or("") + "|" +
                             record->description().value_or("");
        EXPECT_EQ(held.toStdString(), row.front());
        EXPECT_EQ(record->description(), std::nullopt);
        EXPECT_EQ(QUrl::fromLocalFile(record->imageUrl()->toLocalFile()).toString(QUrl::FullyEncoded).toStdString(),
                  texts("SELECT path FROM screenshots WHERE id = " + std::to_string(record->id())).front());
        EXPECT_TRUE(QFileInfo::exists(record->imageUrl()->toLocalFile()));
        EXPECT_EQ(applied, (std::vector<std::pair<ScreenshotPtr, bool>>{{record, false}}));
        ASSERT_FALSE(problems.isEmpty());
        EXPECT_THAT(problems.last().toStdString(), ::testing::HasSubstr(test.reason));

        store->db()->executeScript("PRAGMA query_only = 0; PRAGMA max_page_count = 1000000;");
    }
}

TEST_F(AIProcessingControllerTest, AStartForAnotherScreenshotWaitsBehindTheRunningRequestAndSendsItsOwnImage)
{
    const ScreenshotPtr first = screenshot("first", {64, 48});
    const ScreenshotPtr second = screenshot("second", {30, 90});
    std::vector<QSize> sentSizes;
    answerFor = [&](const httplib::Request& request) {
        sentSizes.push_back(sentImageSize(request.body));
        return chatReply(
            {{"name", "answer " + std::to_string(sentSizes.size())}, {"keywords", "k"}, {"description", "d"}});
    };
    delayMs = 300;
    QImage shown(64, 48, QImage::Format_RGB32);
    shown.fill(Qt::red);
    controller->startAIProcessing(first, shown);
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    // Started while the first one's request runs: it waits, and reads its own file when its turn comes.
    controller->startAIProcessing(second);
    EXPECT_TRUE(controller->isAnalysing(first));
    EXPECT_TRUE(controller->isAnalysing(second));
    EXPECT_TRUE(second->currentlyAIProcessing());
    QTest::qWait(100);
    EXPECT_EQ(requests, 1);
    ASSERT_TRUE(waitUntilProcessed(first));
    EXPECT_TRUE(second->currentlyAIProcessing());
    ASSERT_TRUE(waitUntilProcessed(second));

    EXPECT_EQ(first->name(), "answer 1");
    EXPECT_EQ(second->name(), "answer 2");
    EXPECT_EQ(texts("SELECT name FROM screenshots ORDER BY id"), (std::vector<std::string>{"answer 1", "answer 2"}));
    std::lock_guard lock(replyMutex);
    EXPECT_EQ(sentSizes, (std::vector<QSize>{{64, 48}, {30, 90}}));
}

TEST_F(AIProcessingControllerTest, AStartOfAScreenshotWhoseRequestRunsSendsNoSecondOne)
{
    const ScreenshotPtr record = screenshot("shot");
    delayMs = 600;
    controller->startAIProcessing(record);
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    const std::shared_ptr<AnalysisTask> first = controller->currentTask();
    record->setWaitingForAIProcess(true); // as after a capture that asked for it
    controller->startAIProcessing(record);
    EXPECT_FALSE(first->isCancelled());
    EXPECT_EQ(controller->currentTask(), first);
    EXPECT_FALSE(record->waitingForAIProcess());
    EXPECT_TRUE(record->currentlyAIProcessing());
    ASSERT_TRUE(waitUntilProcessed(record));
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(record->name(), "sales report final");
    EXPECT_EQ(record->aiResults()->count("\n\n"), 1);
    EXPECT_FALSE(controller->showingAlert());
}

TEST_F(AIProcessingControllerTest, ATimedOutRequestRaisesTheAlertWhoseRetryIsForTheFailedScreenshot)
{
    const ScreenshotPtr first = screenshot("first");
    const ScreenshotPtr second = screenshot("second");
    timeoutSeconds = 0.3;
    makeController();
    QSignalSpy alerts(controller.get(), &AIProcessingController::alertChanged);
    delayMs = 1500;
    controller->startAIProcessing(first);
    ASSERT_TRUE(processEventsUntil([&] { return controller->showingAlert(); }));
    EXPECT_FALSE(first->currentlyAIProcessing());
    EXPECT_EQ(controller->failedScreenshot(), first);
    EXPECT_TRUE(controller->alertOffersRetry());
    EXPECT_EQ(controller->alertMessage(), "The request timed out. Often retrying your request can resolve this.\n\n"
                                          "If the issue persists then try again later.");
    EXPECT_EQ(alerts.size(), 1);

    // The user has moved on to another screenshot: "Retry" is still the failed one's.
    // The service may still be sleeping on the first request: the retry waits for it.
    timeoutSeconds = 20;
    delayMs = 0;
    controller->setShowingAlert(false);
    controller->retry();
    EXPECT_TRUE(first->currentlyAIProcessing());
    EXPECT_FALSE(second->currentlyAIProcessing());
    ASSERT_TRUE(waitUntilProcessed(first));
    EXPECT_EQ(first->name(), "sales report final");
    EXPECT_EQ(second->name(), "second");
    EXPECT_FALSE(controller->showingAlert());
}

TEST_F(AIProcessingControllerTest, OtherFailuresRaiseTheAlertWithTheirDetailsAndChangeNothing)
{
    const ScreenshotPtr record = screenshot("shot");
    {
        std::lock_guard lock(replyMutex);
        reply = "not json";
    }
    ::testing::internal::CaptureStdout();
    controller->startAIProcessing(record);
    ASSERT_TRUE(processEventsUntil([&] { return controller->showingAlert(); }));
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(controller->alertOffersRetry());
    EXPECT_THAT(controller->alertMessage().toStdString(),
                ::testing::StartsWith("There was an issue processing your image. This may be a temporary technical "
                                      "problem or be due to the content of your image.\n\nDetails: "));
    EXPECT_GT(controller->alertMessage().size(), controller->alertMessage().indexOf("Details: ") + 9);
    EXPECT_FALSE(record->currentlyAIProcessing());
    EXPECT_EQ(record->name(), "shot");
    EXPECT_EQ(texts("SELECT ifnull(ai_results, 'NULL') FROM screenshots"), std::vector<std::string>{"NULL"});
}

TEST_F(AIProcessingControllerTest, WithoutAKeyTheKeyAlertIsRaisedAndOneAlertIsUpAtATime)
{
    UserDefaults::remove(UserDefaults::openAIAPIKey);
    const ScreenshotPtr record = screenshot("shot");
    record->setWaitingForAIProcess(true);
    controller->startAIProcessing(record);
    EXPECT_TRUE(controller->showEnterOpenAIAPIKeyAlert());
    EXPECT_FALSE(record->waitingForAIProcess());
    EXPECT_FALSE(record->currentlyAIProcessing());
    EXPECT_FALSE(controller->isAnalysing(record));
    EXPECT_EQ(controller->screenshotSelectedWhenAIProcessStarted(), nullptr);

    // The alert raised last is the one up; putting down one that is down tells nobody.
    controller->setShowingAlert(true);
    EXPECT_FALSE(controller->showEnterOpenAIAPIKeyAlert());
    QSignalSpy alerts(controller.get(), &AIProcessingController::alertChanged);
    controller->setShowEnterOpenAIAPIKeyAlert(false);
    EXPECT_EQ(alerts.size(), 0);
    EXPECT_FALSE(controller->hasOpenAIAPIKey());
    EXPECT_TRUE(controller->showEnterOpenAIAPIKeyAlert());
    EXPECT_FALSE(controller->showingAlert());
    EXPECT_EQ(alerts.size(), 1);

    // Blanks count as a key.
    UserDefaults::setValue(UserDefaults::openAIAPIKey, "  ");
    EXPECT_TRUE(controller->hasOpenAIAPIKey());
    QTest::qWait(50);
    EXPECT_EQ(requests, 0);
}

TEST_F(AIProcessingControllerTest, AFileThatIsGoneSendsNothingAndSaysSo)
{
    const ScreenshotPtr broken = screenshot("broken");
    const QString file = QFileInfo(broken->imageUrl()->toLocalFile()).fileName();
    QFile::remove(broken->imageUrl()->toLocalFile());
    controller->startAIProcessing(broken);
    ASSERT_TRUE(processEventsUntil([&] { return !broken->currentlyAIProcessing(); }));
    QTest::qWait(100);
    EXPECT_EQ(requests, 0);
    EXPECT_FALSE(controller->isAnalysing(broken));
    ASSERT_TRUE(controller->showingAlert());
    EXPECT_FALSE(controller->alertOffersRetry());
    EXPECT_TRUE(controller->alertMessage().endsWith("Details: The image file “" + file + "” is missing."))
        << controller->alertMessage().toStdString();
    EXPECT_EQ(controller->failedScreenshot(), broken);
}

TEST_F(AIProcessingControllerTest, AControllerThatGoesEndsItsScreenshotsProcessingAndAppliesNothing)
{
    const ScreenshotPtr running = screenshot("running");
    const ScreenshotPtr waiting = screenshot("waiting");
    delayMs = 300;
    controller->startAIProcessing(running);
    ASSERT_TRUE(processEventsUntil([&] { return requests == 1; }));
    controller->startAIProcessing(waiting);
    controller.reset();
    EXPECT_FALSE(running->currentlyAIProcessing());
    EXPECT_FALSE(waiting->currentlyAIProcessing());
    QTest::qWait(500);
    EXPECT_EQ(running->name(), "running");
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(texts("SELECT name FROM screenshots ORDER BY id"), (std::vector<std::string>{"running", "waiting"}));
}

} // namespace
} // namespace lumetrove::testing
