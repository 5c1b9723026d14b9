#include "lumetrove/detail/ProcessButtonView.h"

#include "aiclient/OpenAI.h"
#include "lumetrove/ai/AIVisionViewModel.h"
#include "lumetrove/detail/AILoadingIconView.h"
#include "lumetrove/platform/UserDefaults.h"

#include <QTest>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

/// A transport whose answers never come, so an analysis stays loading.
class SilentSession : public aiclient::Session {
    class Task : public aiclient::DataTask {
    public:
        void resume() override {}
        void cancel() override {}
    };

public:
    std::shared_ptr<aiclient::DataTask> dataTask(aiclient::HttpRequest, aiclient::DataTaskHandler) override
    {
        return std::make_shared<Task>();
    }
    std::shared_ptr<aiclient::DataTask> streamTask(aiclient::HttpRequest, aiclient::DataReceivedHandler,
                                                   aiclient::TaskCompletedHandler) override
    {
        return std::make_shared<Task>();
    }
};

class ProcessButtonViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDefaults::setValue(UserDefaults::openAIAPIKey, QStringLiteral("sk-test"));
        model_.setClientFactory([](aiclient::Configuration configuration) {
            return std::make_shared<aiclient::OpenAI>(std::move(configuration), std::make_shared<SilentSession>());
        });
    }
    void TearDown() override { UserDefaults::remove(UserDefaults::openAIAPIKey); }

    void startLoading()
    {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        task_ = model_.analyzeScreenshot(std::nullopt, std::nullopt, std::nullopt, image);
        ASSERT_TRUE(model_.isLoading());
    }

    AIVisionViewModel model_;
    std::shared_ptr<AnalysisTask> task_;
    int presses_ = 0;
};

TEST_F(ProcessButtonViewTest, TheIndicatorShowsOnlyWhileARunningTaskIsLoading)
{
    bool hasTask = false;
    ProcessButtonView button(
        model_, [&] { return hasTask ? task_ : nullptr; }, [&] { ++presses_; });
    button.resize(150, 25);
    button.show();
    auto* indicator = button.findChild<AILoadingIconView*>();
    ASSERT_NE(indicator, nullptr);
    EXPECT_EQ(indicator->clearGray(), QColor::fromRgbF(181 / 255.0, 182 / 255.0, 183 / 255.0));
    EXPECT_EQ(button.text(), QStringLiteral("Process With AI"));
    EXPECT_FALSE(button.showsBusyFace());

    startLoading();
    EXPECT_FALSE(button.showsBusyFace()) << "loading without a task of the host shows the button";
    hasTask = true;
    button.refresh();
    EXPECT_TRUE(button.showsBusyFace());
    EXPECT_TRUE(indicator->isVisible());
    EXPECT_EQ(indicator->size(), QSize(50, 20));

    // While the request runs, no press starts another: not on the indicator, not by key, not by program,
    // and not one begun on the indicator and ended once the face has turned back.
    const QPoint center = button.rect().center();
    QTest::mouseClick(&button, Qt::LeftButton, {}, center);
    QTest::keyClick(&button, Qt::Key_Space);
    button.click();
    QTest::mousePress(&button, Qt::LeftButton, {}, center);
    task_->cancel();
    button.refresh();
    QTest::mouseRelease(&button, Qt::LeftButton, {}, center);
    EXPECT_EQ(presses_, 0);

    EXPECT_FALSE(button.showsBusyFace()) << "a cancelled task shows the button";
    EXPECT_FALSE(indicator->isVisible());
    for (LoadingCircle* circle : indicator->circles()) {
        EXPECT_FALSE(circle->isPulsing());
    }
    QTest::mouseClick(&button, Qt::LeftButton, {}, center);
    EXPECT_EQ(presses_, 1);
}

TEST_F(ProcessButtonViewTest, TheButtonShowsWhenTheKeyboardIsOnIt)
{
    ProcessButtonView button(model_, nullptr, [&] { ++presses_; });
    button.resize(150, 25);
    button.show();
    button.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&button));
    button.clearFocus();
    const QImage unfocused = button.grab().toImage();

    button.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(button.hasFocus());
    EXPECT_NE(button.grab().toImage(), unfocused);
    QTest::keyClick(&button, Qt::Key_Space);
    EXPECT_EQ(presses_, 1);

    button.clearFocus();
    EXPECT_EQ(button.grab().toImage(), unfocused);
}

} // namespace
} // namespace lumetrove
