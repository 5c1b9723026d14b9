#include "lumetrove/app/SettingsView.h"

#include "lumetrove/app/SettingsViewModel.h"
#include "lumetrove/platform/UserDefaults.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

class SettingsViewTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::remove(UserDefaults::openAIAPIKey); }
    void TearDown() override { UserDefaults::remove(UserDefaults::openAIAPIKey); }
};

TEST_F(SettingsViewTest, OpeningThePaneStoresNothingAndEveryEditIsStoredAsTyped)
{
    SettingsViewModel model;
    SettingsView view(model);
    QLineEdit* field = view.openAIAPIView()->keyField();
    EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(field->placeholderText(), QStringLiteral("sk-xxxx"));
    EXPECT_EQ(field->echoMode(), QLineEdit::Normal);
    EXPECT_FALSE(UserDefaults::contains(UserDefaults::openAIAPIKey));

    QTest::keyClicks(field, QStringLiteral(" s"));
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral(" s"));
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QString()) << "an emptied field leaves an empty entry";

    field->selectAll();
    field->insert(QStringLiteral("sk-pasted "));
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral("sk-pasted "));

    // A pane opened later shows what was stored.
    SettingsView reopened(model);
    EXPECT_EQ(reopened.openAIAPIView()->openAIAPIKey(), QStringLiteral("sk-pasted "));
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

} // namespace
} // namespace lumetrove
