#include "settingsopener/OpenSettingsAction.h"
#include "settingsopener/OpenSettingsInjection.h"
#include "settingsopener/SurroundingActionsButtonStyle.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <gmock/gmock.h>
#include <memory>
#include <stdexcept>

namespace settingsopener {
namespace {

using ::testing::ElementsAre;

/// Records the legacy actions it receives; answers only those it declares.
class SettingsDelegate : public QObject {
    Q_OBJECT

public:
    QStringList received;

public slots:
    void showSettingsWindow() { received << "showSettingsWindow"; }
    void showPreferencesWindow() { received << "showPreferencesWindow"; }
};

class PreferencesOnlyDelegate : public QObject {
    Q_OBJECT

public:
    QStringList received;

public slots:
    void showPreferencesWindow() { received << "showPreferencesWindow"; }
};

template <class Error> std::optional<Error> errorOf(const std::function<void()>& run)
{
    try {
        run();
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

class SettingsLinkRoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerSettingsScene([this] { ++scenesShown_; });
    }
    void TearDown() override { registerSettingsScene({}); }

    int scenesShown_ = 0;
};

TEST_F(SettingsLinkRoadTest, TheActionOpensSettingsOnlyOnceAnInjectionHasConnectedIt)
{
    OpenSettingsAction action;
    EXPECT_EQ(errorOf<OpenSettingsError>([&] { action.openSettings(); }),
              OpenSettingsError(OpenSettingsError::settingsLinkNotConnected));
    EXPECT_FALSE(action.closureBinding().get());

    auto* label = new QLabel(QStringLiteral("content"));
    OpenSettingsInjection injection(label, &action);
    EXPECT_EQ(&openSettings(label), &action) << "views inside find the injected action";
    EXPECT_THROW(action.openSettings(), OpenSettingsError) << "the trigger arrives on a later turn";
    settle();

    action.openSettings();
    EXPECT_EQ(scenesShown_, 1);
    ASSERT_TRUE(action.closureBinding().get());
    action.closureBinding().get()();
    EXPECT_EQ(scenesShown_, 2);
}

TEST_F(SettingsLinkRoadTest, ViewsOutsideAnyInjectionShareTheDefaultAction)
{
    QLabel outside;
    EXPECT_EQ(&openSettings(&outside), &defaultOpenSettingsAction());
    EXPECT_EQ(&openSettings(nullptr), &defaultOpenSettingsAction());

    auto injection = std::unique_ptr<OpenSettingsInjection>(withOpenSettingsInjection(new QLabel));
    settle();
    defaultOpenSettingsAction().openSettings();
    EXPECT_EQ(scenesShown_, 1);

    // A link that is gone triggers nothing.
    injection.reset();
    defaultOpenSettingsAction().openSettings();
    EXPECT_EQ(scenesShown_, 1);
}

TEST_F(SettingsLinkRoadTest, TheBindingHoldsTheActionWeakly)
{
    auto action = std::make_unique<OpenSettingsAction>();
    const ClosureBinding binding = action->closureBinding();
    binding.set([this] { ++scenesShown_; });
    ASSERT_TRUE(binding.get());
    binding.get()();
    EXPECT_EQ(scenesShown_, 1);
    binding.set(nullptr);
    EXPECT_THROW(action->openSettings(), OpenSettingsError);

    action.reset();
    binding.set([this] { ++scenesShown_; });
    EXPECT_FALSE(binding.get());
}

TEST(OpenSettingsActionTest, ErrorsOfTheStoredClosure)
{
    OpenSettingsAction action;
    action.setClosure([] { throw std::runtime_error("other"); });
    EXPECT_THROW(action.openSettings(), std::runtime_error) << "another error passes unchanged";
    action.setClosure([] { legacyOpenSettings(SettingsRoad::settingsLink); });
    EXPECT_EQ(errorOf<OpenSettingsError>([&] { action.openSettings(); }),
              OpenSettingsError(OpenSettingsError::unsupportedPlatform));
    EXPECT_EQ(errorOf<FallbackOpenSettingsError>([] { legacyOpenSettings(SettingsRoad::settingsLink); }),
              FallbackOpenSettingsError(FallbackOpenSettingsError::unsupportedPlatform));
}

TEST(LegacyRoadTest, TheFirstHandledActionIsSentAndNoOther)
{
    OpenSettingsAction action(SettingsRoad::legacyAction);
    OpenSettingsInjection injection(new QLabel, &action, nullptr, SettingsRoad::legacyAction);
    EXPECT_EQ(injection.settingsLink(), nullptr);

    SettingsDelegate both;
    setApplicationDelegate(&both);
    action.openSettings();
    EXPECT_THAT(both.received, ElementsAre("showSettingsWindow"));

    PreferencesOnlyDelegate preferences;
    setApplicationDelegate(&preferences);
    action.openSettings();
    EXPECT_THAT(preferences.received, ElementsAre("showPreferencesWindow"));

    // With no delegate the application object is asked, and it handles neither action.
    setApplicationDelegate(nullptr);
    EXPECT_FALSE(sendFallbackSettingsAction("showSettingsWindow"));
    EXPECT_EQ(errorOf<OpenSettingsError>([&] { action.openSettings(); }),
              OpenSettingsError(OpenSettingsError::selectorNotFound));
    EXPECT_EQ(errorOf<FallbackOpenSettingsError>([] { legacyOpenSettings(SettingsRoad::legacyAction); }),
              FallbackOpenSettingsError(FallbackOpenSettingsError::selectorNotFound));
}

TEST(SurroundingActionsButtonStyleTest, AClickRunsTheActionsAroundTheOwnOneAndTheTriggerOnlyTheOwn)
{
    QStringList calls;
    std::function<void()> trigger;
    ClosureBinding binding;
    binding.set = [&](std::function<void()> handed) { trigger = std::move(handed); };

    QPushButton button;
    surroundingActionsButtonStyle(
        &button, [&] { calls << "own"; }, [&] { calls << "pre"; }, [&] { calls << "post"; }, binding);
    button.click();
    EXPECT_THAT(calls, ElementsAre("pre", "own", "post"));

    EXPECT_FALSE(trigger) << "handed over on a later turn";
    settle();
    ASSERT_TRUE(trigger);
    calls.clear();
    trigger();
    EXPECT_THAT(calls, ElementsAre("own"));
}

TEST(SettingsButtonTest, BothRoadsOpenSettingsBetweenTheirActions)
{
    QStringList calls;
    registerSettingsScene([&] { calls << "scene"; });
    SettingsDelegate delegate;
    setApplicationDelegate(&delegate);

    std::unique_ptr<QAbstractButton> link(settingsButton(
        "Settings", [&] { calls << "pre"; }, [&] { calls << "post"; }, nullptr));
    link->click();
    EXPECT_THAT(calls, ElementsAre("pre", "scene", "post"));

    calls.clear();
    std::unique_ptr<QAbstractButton> legacy(settingsButton(
        "Settings", [&] { calls << "pre"; }, [&] { calls << "post"; }, nullptr, SettingsRoad::legacyAction));
    legacy->click();
    EXPECT_THAT(calls, ElementsAre("pre", "post"));
    EXPECT_THAT(delegate.received, ElementsAre("showSettingsWindow"));

    setApplicationDelegate(nullptr);
    registerSettingsScene({});
}

} // namespace
} // namespace settingsopener

#include "OpenSettingsTest.moc"
