#include "lumetrove/captureui/ScreenAreaSelectionView.h"

#include "tests/lumetrove/AccessibleControls.h"

#include <QComboBox>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

struct RecordingDelegate : ScreenAreaSelectionViewDelegate {
    std::vector<QRectF> areas;
    std::vector<std::optional<WindowDetails>> details;
    std::vector<CaptureResult> ends;
    void didSelectArea(ScreenAreaSelectionView&, QRectF area, std::optional<WindowDetails> windowDetails) override
    {
        areas.push_back(area);
        details.push_back(std::move(windowDetails));
    }
    void endCapture(CaptureResult result) override { ends.push_back(result); }
};

class SelectionViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.resize(1600, 1000);
        view.delegate = &delegate;
        view.windowLookup = [this](QPointF) { return under; };
        view.show();
    }

    void drag(QPoint from, QPoint to, QPoint release)
    {
        QTest::mousePress(&view, Qt::LeftButton, {}, from);
        QTest::mouseMove(&view, to);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, release);
    }

    /// Drags out a selection in assistant mode and finds the panel's controls as a screen reader does (on
    /// this desktop a list is read by its chosen item, the first question).
    void openAssistantPanel()
    {
        view.isAssistant = true;
        ASSERT_FALSE(testing::findControlNamed(&view, QStringLiteral("Custom Query"))) << "no panel before the drag";
        drag({200, 200}, {600, 500}, {600, 500});
        list = testing::controlNamed<QComboBox>(&view, QStringLiteral("What is this?"));
        field = testing::controlNamed<QLineEdit>(&view, QStringLiteral("Custom Query"));
        button = testing::controlNamed<QPushButton>(&view, QStringLiteral("Process"));
        ASSERT_TRUE(list && field && button);
    }

    RecordingDelegate delegate;
    ScreenAreaSelectionView view;
    QComboBox* list = nullptr;
    QLineEdit* field = nullptr;
    QPushButton* button = nullptr;
    std::optional<WindowDetails> under;
};

TEST_F(SelectionViewTest, ADragReportsTheAreaToTheReleasePointAndAClickCancels)
{
    under = WindowDetails{QRectF(0, 0, 500, 500), QStringLiteral("Editor"), 42, std::nullopt};
    drag({400, 300}, {350, 250}, {100, 120}); // bottom-right to top-left; the last move was elsewhere
    ASSERT_EQ(delegate.areas.size(), 1u);
    EXPECT_EQ(delegate.areas[0], QRectF(100, 120, 300, 180));
    EXPECT_EQ(delegate.details[0]->applicationName, QStringLiteral("Editor"));

    under.reset(); // over the desktop: details with nothing in them
    drag({10, 10}, {11, 11}, {11, 11});
    ASSERT_EQ(delegate.areas.size(), 2u);
    EXPECT_EQ(delegate.areas[1], QRectF(10, 10, 1, 1));
    EXPECT_EQ(delegate.details[1], WindowDetails{});

    drag({500, 500}, {500, 500}, {500, 500});
    EXPECT_EQ(delegate.ends, std::vector<CaptureResult>{CaptureResult::cancelled});
}

TEST_F(SelectionViewTest, EscapeCancelsAndOtherKeysDoNothing)
{
    QTest::keyClick(&view, Qt::Key_A);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_TRUE(delegate.ends.empty());
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_EQ(delegate.ends, std::vector<CaptureResult>{CaptureResult::cancelled});
}

TEST_F(SelectionViewTest, TheAssistantPanelStoresTheChosenQuestionAsTheTask)
{
    ASSERT_NO_FATAL_FAILURE(openAssistantPanel());
    EXPECT_TRUE(delegate.areas.empty()) << "the selection waits for a question";

    // "Summarize this" only renames the button; "Copy text" finishes at once.
    list->setCurrentIndex(list->findText(QStringLiteral("Summarize this")));
    emit list->activated(list->currentIndex());
    EXPECT_EQ(button->text(), QStringLiteral("Process"));
    EXPECT_TRUE(delegate.areas.empty());
    list->setCurrentIndex(list->findText(QStringLiteral("Copy text")));
    emit list->activated(list->currentIndex());
    EXPECT_EQ(button->text(), QStringLiteral("Copy"));
    ASSERT_EQ(delegate.areas.size(), 1u);
    EXPECT_EQ(delegate.areas[0], QRectF(200, 200, 400, 300));
    EXPECT_EQ(delegate.details[0]->aiAssistantTask, QStringLiteral("Copy text"));

    // A typed question wins over the list, which shows "Custom Query" while the field holds text.
    QTest::keyClicks(field, QStringLiteral("Who wrote this?"));
    EXPECT_FALSE(list->isEnabled());
    EXPECT_EQ(list->currentText(), QString());
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(delegate.areas.size(), 2u);
    EXPECT_EQ(delegate.details[1]->aiAssistantTask, QStringLiteral("Who wrote this?"));

    field->clear();
    EXPECT_TRUE(list->isEnabled());
    EXPECT_EQ(list->currentText(), QStringLiteral("What is this?"));
    list->setCurrentIndex(list->findText(QStringLiteral("List items")));
    button->click();
    EXPECT_EQ(delegate.details[2]->aiAssistantTask, QStringLiteral("List the items in this image"));

    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(delegate.ends, std::vector<CaptureResult>{CaptureResult::cancelled});
}

TEST_F(SelectionViewTest, TheAssistantPanelMatchesItsControlsAndShowsWholePlaceholderAndIcon)
{
    // No icon theme at all: the button's symbol comes from the program's own images.
    const QString theme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("lumetrove-no-such-theme"));
    openAssistantPanel();
    QIcon::setThemeName(theme);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_FALSE(button->icon().pixmap(QSize(16, 16)).isNull());
    const double panelSize = list->font().pointSizeF();
    EXPECT_GE(field->font().pointSizeF(), panelSize);
    EXPECT_LE(field->font().pointSizeF(), panelSize * 1.35);
    // The whole placeholder fits in the field, which still ends where the button does.
    const QRect content = field->rect().marginsRemoved(field->textMargins());
    EXPECT_LT(field->fontMetrics().horizontalAdvance(field->placeholderText()), content.width() - 8);
    EXPECT_EQ(field->geometry().right(), button->geometry().right());
    EXPECT_EQ(field->geometry().left(), list->geometry().left());
}

TEST(AssistantPanelTest, PromptsForTitlesAndPlacementBySelection)
{
    EXPECT_EQ(assistantPromptForTitle(QStringLiteral("Translate to English")),
              QStringLiteral("Translate text in this image to English"));
    EXPECT_EQ(assistantPromptForTitle(QStringLiteral("Custom Query")), QStringLiteral("Custom Query"));
    EXPECT_EQ(assistantPromptForTitle(QString()), QString());
    EXPECT_EQ(assistantPresetTitles().size(), 7);

    const QSizeF screen(1600, 1000);
    struct Case {
        const char* name;
        QRectF selection; // y down
        AssistantPlacement placement;
        QPointF origin;
    };
    const Case cases[] = {
        {"whole screen", {0, 0, 1600, 1000}, AssistantPlacement::centered, {650, 460}},
        {"full width, lower half", {0, 600, 1600, 300}, AssistantPlacement::above, {677, 500}},
        {"full width, upper half", {0, 50, 1600, 300}, AssistantPlacement::below, {677, 380}},
        {"full height at the right", {1400, 0, 200, 1000}, AssistantPlacement::left, {1105, 460}},
        {"top-right corner, nudged down", {1400, 0, 200, 200}, AssistantPlacement::left, {1105, 110}},
        {"bottom-left corner, nudged up", {0, 800, 200, 200}, AssistantPlacement::right, {225, 810}},
        {"middle, lower half", {600, 500, 300, 200}, AssistantPlacement::above, {627, 400}},
        {"middle, upper half", {600, 320, 300, 150}, AssistantPlacement::below, {627, 500}},
        {"middle, reaching the top", {600, 100, 300, 200}, AssistantPlacement::below, {627, 330}},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const AssistantPanelPosition position = assistantPanelPosition(testCase.selection, screen);
        EXPECT_EQ(position.placement, testCase.placement);
        EXPECT_EQ(position.listOrigin, testCase.origin);
    }
}

} // namespace
} // namespace lumetrove
