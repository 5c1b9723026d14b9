#include "lumetrove/app/SettingsView.h"

#include "lumetrove/ai/AIVisionViewModel.h"
#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/LumetroveApp.h"
#include "lumetrove/platform/UserDefaults.h"
#include "lumetrove/views/SettingsViewModel.h"
#include "tests/aiclient/LoopbackServer.h"
#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/Sandbox.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace lumetrove {
namespace {

class SettingsViewTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::remove(UserDefaults::openAIAPIKey); }
    void TearDown() override { UserDefaults::remove(UserDefaults::openAIAPIKey); }
};

TEST_F(SettingsViewTest, OpeningThePaneStoresNothingAndEveryEditIsStoredWithoutSurroundingBlanks)
{
    SettingsViewModel model;
    SettingsView view(model);
    QLineEdit* field = testing::controlNamed<QLineEdit>(&view, QStringLiteral("OpenAI API Key"));
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(field->placeholderText(), QStringLiteral("sk-xxxx"));
    EXPECT_EQ(field->echoMode(), QLineEdit::Normal);
    EXPECT_FALSE(UserDefaults::contains(UserDefaults::openAIAPIKey));

    QTest::keyClicks(field, QStringLiteral(" s"));
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral("s"));
    EXPECT_EQ(field->text(), QStringLiteral(" s")) << "the field keeps what is typed";
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QString()) << "an emptied field leaves an empty entry";

    field->selectAll();
    field->insert(QStringLiteral("sk-pasted "));
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral("sk-pasted"));

    // A pane opened later shows what was stored.
    SettingsView reopened(model);
    EXPECT_EQ(reopened.openAIAPIView()->openAIAPIKey(), QStringLiteral("sk-pasted"));

    // Only the ends are cleaned: a key with a line break inside stays as it is, for the request to refuse.
    OpenAIAPIView::saveKey(QStringLiteral("\tsk-a\r\nb \n"));
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral("sk-a\r\nb"));
}

TEST_F(SettingsViewTest, AKeyThatCannotBeSavedIsToldBelowTheFieldUntilOneIsSaved)
{
    SettingsViewModel model;
    SettingsView view(model);
    QLineEdit* field = testing::controlNamed<QLineEdit>(&view, QStringLiteral("OpenAI API Key"));
    ASSERT_TRUE(field);
    QLabel* problem = view.openAIAPIView()->saveProblem();
    EXPECT_FALSE(problem->isVisibleTo(&view));

    // A folder in the settings file's place: nothing can be written there.
    const QString file = UserDefaults::fileName();
    QFile::remove(file);
    ASSERT_TRUE(QDir().mkpath(file));
    const auto restore = qScopeGuard([&] { QDir(file).removeRecursively(); });
    QTest::keyClicks(field, QStringLiteral("sk-a"));
    EXPECT_TRUE(problem->isVisibleTo(&view));
    EXPECT_TRUE(problem->text().contains(file)) << problem->text().toStdString();

    QDir(file).removeRecursively();
    QTest::keyClicks(field, QStringLiteral("b"));
    EXPECT_FALSE(problem->isVisibleTo(&view));
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral("sk-ab"));
}

TEST_F(SettingsViewTest, AKeyPastedWithATrailingLineFeedIsSentWithoutIt)
{
    aiclient::testing::LoopbackServer server;
    server.onPost("/v1/chat/completions", [](const httplib::Request&, httplib::Response& response) {
        const nlohmann::json answer = {{"name", "n"}, {"keywords", "k"}, {"description", "d"}};
        const nlohmann::json message = {{"role", "assistant"}, {"content", answer.dump()}};
        response.set_content(nlohmann::json{{"id", "c"},
                                            {"object", "chat.completion"},
                                            {"created", 1},
                                            {"model", "gpt-4o"},
                                            {"choices", {{{"index", 0}, {"message", message}}}}}
                                 .dump(),
                             "application/json");
    });
    qputenv("LUMETROVE_AI_SERVICE_URL", QByteArray("http://127.0.0.1:") + QByteArray::number(server.port()));

    SettingsViewModel settings;
    SettingsView view(settings);
    QGuiApplication::clipboard()->setText(QStringLiteral("sk-pasted-key\n"));
    QLineEdit* field = testing::controlNamed<QLineEdit>(&view, QStringLiteral("OpenAI API Key"));
    ASSERT_TRUE(field);
    field->paste();
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral("sk-pasted-key"));

    AIVisionViewModel model;
    QImage image(20, 20, QImage::Format_RGB32);
    image.fill(Qt::gray);
    model.analyzeScreenshot(std::nullopt, std::nullopt, std::nullopt, image);
    const bool ended = testing::processEventsUntil([&] { return !model.isLoading(); });
    qunsetenv("LUMETROVE_AI_SERVICE_URL");
    ASSERT_TRUE(ended);
    EXPECT_FALSE(model.receivedError()) << model.receivedError()->description().toStdString();
    EXPECT_TRUE(model.response());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].headers.find("Authorization")->second, "Bearer sk-pasted-key");
}

TEST_F(SettingsViewTest, TheTabViewFollowsTheModel)
{
    SettingsViewModel model;
    SettingsView view(model);
    ASSERT_EQ(view.tabs()->count(), 1);
    EXPECT_EQ(view.tabs()->tabText(0), QStringLiteral("OpenAI API"));
    EXPECT_EQ(view.tabs()->size(), QSize(500, 300));

    QSignalSpy changes(&model, &SettingsViewModel::selectedTabChanged);
    model.setSelectedTab(Tab::openAIAPI);
    model.setSelectedTab(Tab::openAIAPI);
    EXPECT_EQ(changes.count(), 2) << "every assignment is published";
    EXPECT_EQ(view.tabs()->currentWidget(), view.openAIAPIView());
}

TEST_F(SettingsViewTest, TheKeyFieldHasTheKeyboardWhenTheWindowComesUp)
{
    SettingsViewModel model;
    SettingsView view(model);
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    ASSERT_TRUE(QApplication::focusWidget());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("sk-typed"));
    EXPECT_EQ(view.openAIAPIView()->openAIAPIKey(), QStringLiteral("sk-typed"));
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral("sk-typed"));
}

TEST_F(SettingsViewTest, TheWindowClosesOnEscapeAndOnEveryCloseKeyWhileTheKeyFieldHasTheFocus)
{
    SettingsViewModel model;
    SettingsView view(model);
    QList<QKeySequence> closers = QKeySequence::keyBindings(QKeySequence::Close);
    ASSERT_TRUE(closers.contains(QKeySequence(Qt::CTRL | Qt::Key_W)));
    closers.append(QKeySequence(Qt::Key_Escape));
    for (const QKeySequence& keys : closers) {
        SCOPED_TRACE(keys.toString().toStdString());
        view.show();
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        view.openAIAPIView()->keyField()->setFocus();
        QTest::keySequence(view.openAIAPIView()->keyField(), keys);
        EXPECT_FALSE(view.isVisible());
        view.hide();
    }
    EXPECT_FALSE(UserDefaults::contains(UserDefaults::openAIAPIKey)) << "no key typed into the field";
}

TEST_F(SettingsViewTest, ClosedFromTheKeyboardTheWindowGivesTheKeyboardBackToTheMainWindow)
{
    // The program's lock and socket in a runtime directory of its own.
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    ASSERT_TRUE(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray runtimeBefore = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", runtimeBefore); });

    // With a key stored, no alert asks for one at start.
    UserDefaults::setValue(UserDefaults::openAIAPIKey, QStringLiteral("sk-stored"));
    LumetroveApp app({QStringLiteral("lumetrove")});
    ASSERT_TRUE(app.start());
    QMainWindow* main = app.mainWindow();
    ASSERT_TRUE(main);
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        SCOPED_TRACE(keys.toString().toStdString());
        app.showSettingsWindow();
        QWidget* settings = app.settingsWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(settings));
        QTest::keySequence(QApplication::focusWidget(), keys);
        ASSERT_FALSE(settings->isVisible());
        EXPECT_TRUE(testing::processEventsUntil([&] { return QApplication::activeWindow() == main; }))
            << "the keyboard went to no window";
    }
}

} // namespace
} // namespace lumetrove
