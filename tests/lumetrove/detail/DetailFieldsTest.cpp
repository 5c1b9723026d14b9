#include "lumetrove/detail/AIAssistantResultsView.h"
#include "lumetrove/detail/CopyToClipboardButtonView.h"
#include "lumetrove/detail/EditorTextView.h"
#include "lumetrove/detail/ScreenshotNameView.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

namespace lumetrove::testing {
namespace {

/// The copy button inside `view`, found as a screen reader finds it.
QToolButton* copyButton(QWidget& view)
{
    return controlNamed<QToolButton>(&view, QStringLiteral("Copy to Clipboard"));
}

/// The name field inside `view`, found as a screen reader finds it.
QLineEdit* nameField(QWidget& view)
{
    return controlNamed<QLineEdit>(&view, QStringLiteral("Name"));
}

TEST(CopyToClipboardButtonView, CopiesTicksOnlyItselfAndResetsAfterTwoSeconds)
{
    IconsToShowTick ticks;
    CopyToClipboardButtonView none("copyButton3", std::nullopt, &ticks);
    CopyToClipboardButtonView answer("copyButton1", QString("the answer"), &ticks);
    CopyToClipboardButtonView summary("copyButton2", QString("summary"), &ticks);
    QGuiApplication::clipboard()->setText("before");
    ASSERT_TRUE(copyButton(none) && copyButton(answer));

    QTest::mouseClick(copyButton(none), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
    EXPECT_FALSE(ticks.contains("copyButton3"));

    QTest::mouseClick(copyButton(answer), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "the answer");
    EXPECT_EQ(answer.symbolName(), "checkmark");
    EXPECT_EQ(summary.symbolName(), "doc.on.clipboard");

    EXPECT_TRUE(processEventsUntil([&] { return answer.symbolName() == "doc.on.clipboard"; },
                                   CopyToClipboardButtonView::kTickMilliseconds + 1000));
    EXPECT_TRUE(ticks.contains("copyButton1"));
}

class DetailFieldsTest : public OpenLibraryTest {
protected:
    ScreenshotPtr loadOne(const QString& name)
    {
        addScreenshot(*store, name);
        ScreenshotsListManager list(store);
        waitForList(list);
        EXPECT_EQ(list.screenshots().size(), 1);
        return list.screenshots().value(0);
    }
    QString screenshotsDirectory() const { return libraryDirectory() + "/Screenshots"; }
};

TEST_F(DetailFieldsTest, TypingANameRenamesTheFileAndSavesOnlyRealChanges)
{
    const ScreenshotPtr screenshot = loadOne("first");
    ScreenshotNameView view;
    view.setScreenshot(screenshot);
    view.setScreenshotName(*screenshot->name());
    EXPECT_EQ(screenshot->imageUrl()->toLocalFile(), screenshotsDirectory() + "/first.png");
    QLineEdit* field = nameField(view);
    ASSERT_TRUE(field);

    field->selectAll();
    QTest::keyClicks(field, "Plan");
    EXPECT_EQ(screenshot->name(), "Plan");
    EXPECT_EQ(column("SELECT name FROM screenshots"), std::vector<std::string>{"\"Plan\""});
    EXPECT_EQ(QFileInfo(screenshot->imageUrl()->toLocalFile()).fileName(), "Screenshot - Plan.png");

    // The same name again renames nothing.
    const QString path = screenshot->imageUrl()->toLocalFile();
    view.setScreenshotName("Plan");
    EXPECT_EQ(screenshot->imageUrl()->toLocalFile(), path);
    EXPECT_EQ(QDir(screenshotsDirectory()).entryList(QDir::Files), QStringList{"Screenshot - Plan.png"});

    // Erasing the name gives the record its default name while the field stays empty.
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(screenshot->name(), screenshot->defaultName());
}

TEST(ScreenshotNameView, ALongNameShowsFromItsFirstLetter)
{
    ScreenshotNameView view;
    view.resize(260, 60);
    view.show();
    QLineEdit* field = nameField(view);
    ASSERT_TRUE(field);
    const QString name = QStringLiteral("Screen Shot 2026-12-09 at 06.48.30 PM");
    ASSERT_GT(field->fontMetrics().horizontalAdvance(name), field->width());
    for (int i = 0; i < 2; ++i) { // a first name, and another one replacing it
        view.setScreenshotName(i == 0 ? name : name + QStringLiteral(" (2)"));
        QApplication::processEvents();
        // The letter at the field's leading edge is the name's first.
        const QRect content = field->rect().marginsRemoved(field->textMargins());
        EXPECT_EQ(field->cursorPositionAt(QPoint(content.left() + 3, content.center().y())), 0);
    }
}

TEST_F(DetailFieldsTest, HostileNamesKeepTheFileInTheScreenshotsDirectory)
{
    const ScreenshotPtr screenshot = loadOne("start");
    ScreenshotNameView view;
    view.setScreenshot(screenshot);
    for (const QString& name : {QString("../../x"), QString("a/b"), QString(300, QChar('n')), QString("..")}) {
        SCOPED_TRACE(name.left(20).toStdString());
        view.setScreenshotName(name);
        EXPECT_EQ(screenshot->name(), name);
        const QFileInfo file(screenshot->imageUrl()->toLocalFile());
        EXPECT_TRUE(file.exists());
        EXPECT_EQ(file.absolutePath(), QFileInfo(screenshotsDirectory()).absoluteFilePath());
        EXPECT_LE(file.fileName().toUtf8().size(), 255);
    }
    EXPECT_EQ(QDir(screenshotsDirectory()).entryList(QDir::Files).size(), 1);
}

TEST_F(DetailFieldsTest, SummaryAndAssistantAnswerFollowTheRecordAndCannotBeEdited)
{
    const ScreenshotPtr screenshot = loadOne("shot");
    IconsToShowTick ticks;
    ScreenshotDescriptionView summary(screenshot, &ticks);
    AIAssistantResultsView results(screenshot, &ticks);
    screenshot->setDescription(QString("A chart of sales"));
    screenshot->setAiAssistantTask(QString("What is this?"));
    screenshot->setAiAssistantResults(QString("A chart."));
    EXPECT_EQ(summary.shownText(), "A chart of sales");
    EXPECT_EQ(results.question(), "What is this?");
    EXPECT_EQ(results.answer(), "A chart.");

    auto* answerEditor = controlNamed<QTextEdit>(&results, QStringLiteral("AI Assistant Results"));
    ASSERT_NE(answerEditor, nullptr);
    EXPECT_TRUE(answerEditor->isReadOnly());
    EXPECT_GE(answerEditor->heightForWidth(300), 50);
    QTest::keyClicks(answerEditor, "typed");
    EXPECT_EQ(results.answer(), "A chart.");
    EXPECT_EQ(screenshot->aiAssistantResults(), "A chart.");

    ASSERT_TRUE(copyButton(summary) && copyButton(results));
    QTest::mouseClick(copyButton(summary), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "A chart of sales");

    // A screenshot without an answer: empty editor, copy button that does nothing.
    screenshot->setAiAssistantResults(std::nullopt);
    QGuiApplication::clipboard()->setText("kept");
    QTest::mouseClick(copyButton(results), Qt::LeftButton);
    EXPECT_EQ(results.answer(), "");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
}

TEST(EditorTextView, EditsWriteBackAndOwnerTextKeepsTheClampedSelection)
{
    int began = 0, committed = 0;
    QStringList changes;
    EditorTextView editor("hello world", true, std::nullopt,
                          {[&] { ++began; }, [&] { ++committed; }, [&](const QString& text) { changes << text; }});
    QSignalSpy bound(&editor, &EditorTextView::textChanged);

    QFocusEvent focusIn(QEvent::FocusIn);
    QApplication::sendEvent(editor.textView(), &focusIn);
    QTextCursor cursor = editor.textView()->textCursor();
    cursor.setPosition(11);
    editor.textView()->setTextCursor(cursor);
    QTest::keyClicks(editor.textView(), "!");
    EXPECT_EQ(editor.text(), "hello world!");
    ASSERT_EQ(bound.count(), 1);
    EXPECT_EQ(changes, QStringList{"hello world!"});
    QFocusEvent focusOut(QEvent::FocusOut);
    QApplication::sendEvent(editor.textView(), &focusOut);
    EXPECT_EQ(began, 1);
    EXPECT_EQ(committed, 1);

    // The owner's shorter text keeps the caret, cut back to its end; a push never reports a change.
    editor.setText("hi");
    EXPECT_EQ(editor.textView()->toPlainText(), "hi");
    EXPECT_EQ(editor.textView()->textCursor().position(), 2);
    editor.setText("a longer text than before");
    EXPECT_EQ(editor.textView()->textCursor().position(), 12);
    EXPECT_EQ(bound.count(), 1);

    EditorTextView readOnly("fixed", false, std::nullopt);
    QTest::keyClicks(readOnly.textView(), "x");
    EXPECT_EQ(readOnly.text(), "fixed");
}

} // namespace
} // namespace lumetrove::testing
