#include "lumetrove/views/KeywordEditorView.h"

#include "tests/lumetrove/AccessibleControls.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using lumetrove::KeywordEditorView;
using lumetrove::testing::controlNamed;
using lumetrove::testing::controlsNamed;

/// The chips shown, in order, once the replaced ones are gone.
QStringList chipTexts(KeywordEditorView& editor)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QStringList texts;
    for (QPushButton* button : editor.findChildren<QPushButton*>()) {
        if (button->text() != QStringLiteral("Add") || button->parentWidget() != &editor) {
            texts << button->text();
        }
    }
    return texts;
}

QLineEdit* field(KeywordEditorView& editor)
{
    return controlNamed<QLineEdit>(&editor, QStringLiteral("Keywords"));
}

struct AddCase {
    const char* what;
    QString bound;
    QString typed;
    QString boundAfter;
    QString fieldAfter;
};

TEST(KeywordEditorView, AddingNormalisesSplitsAndStopsAtDuplicatesOrBlankPieces)
{
    const std::vector<AddCase> cases = {
        {"two words", "old", "Foo bar", "old foo bar", ""},
        {"two words into an empty list", "", "Foo bar", "foo bar", ""},
        {"runs of spaces", "", "   Foo   ", "foo", ""},
        {"only spaces keep the field", "x", "    ", "x", "    "},
        {"duplicate in another case clears the field", "foo", "FOO", "foo", ""},
        {"a repeated word drops the rest", "", "a b a c", "a b", ""},
        {"a tab piece stops without clearing the field", "", "\t", "", "\t"},
        {"a tab piece after a word stops with the word added", "", "one \t two", "one", ""},
    };
    for (const AddCase& c : cases) {
        SCOPED_TRACE(c.what);
        KeywordEditorView editor("", "", {}, c.bound, false);
        QSignalSpy changes(&editor, &KeywordEditorView::keywordsStringChanged);
        editor.setNewKeyword(c.typed);
        QTest::keyClick(field(editor), Qt::Key_Return);
        EXPECT_EQ(editor.keywordsString(), c.boundAfter);
        EXPECT_EQ(field(editor)->text(), c.fieldAfter);
        EXPECT_EQ(changes.count(), c.bound == c.boundAfter ? 0 : 1);
        EXPECT_EQ(chipTexts(editor), editor.keywords());
    }
}

TEST(KeywordEditorView, TheAddButtonAddsLikeReturn)
{
    KeywordEditorView editor("", "", {}, "", true);
    editor.setNewKeyword("Tag");
    QTest::mouseClick(controlNamed<QPushButton>(&editor, QStringLiteral("Add")), Qt::LeftButton);
    EXPECT_EQ(editor.keywordsString(), "tag");
}

TEST(KeywordEditorView, ClickingAChipRemovesTheFirstEqualKeyword)
{
    struct Case {
        const char* what;
        QString bound;
        QString clicked;
        QStringList chips;
        QString boundAfter;
    };
    const std::vector<Case> cases = {
        {"middle chip", "a b c", "b", {"a", "b", "c"}, "a c"},
        {"empty chip between two spaces", "a  b", "", {"a", "", "b"}, "a b"},
        {"the first of two equal chips", "x y x", "x", {"x", "y", "x"}, "y x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KeywordEditorView editor("", "", {}, c.bound, false);
        EXPECT_EQ(chipTexts(editor), c.chips);
        const QList<QPushButton*> named = controlsNamed<QPushButton>(&editor, c.clicked);
        ASSERT_FALSE(named.isEmpty());
        QTest::mouseClick(named.front(), Qt::LeftButton);
        EXPECT_EQ(editor.keywordsString(), c.boundAfter);
        EXPECT_EQ(chipTexts(editor), c.boundAfter.split(' '));
    }
}

TEST(KeywordEditorView, OwnerChangesReloadTheChipsAndKeepTypedText)
{
    KeywordEditorView editor("", "", {}, "", false);
    EXPECT_TRUE(chipTexts(editor).isEmpty());
    editor.setNewKeyword("half typed");
    editor.setKeywordsString("alpha beta");
    EXPECT_EQ(chipTexts(editor), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(editor.newKeyword(), "half typed");
    editor.setKeywordsString("");
    EXPECT_TRUE(chipTexts(editor).isEmpty());
}

TEST(KeywordEditorView, TheFieldShowsItsWholePlaceholderAlsoWithALargerFont)
{
    const QFont original = QApplication::font();
    for (const double scale : {1.0, 1.6, 2.2}) {
        SCOPED_TRACE(scale);
        QFont font = original;
        font.setPointSizeF(original.pointSizeF() * scale);
        QApplication::setFont(font);
        KeywordEditorView editor("", "", {}, "", false);
        editor.show();
        QLineEdit* line = field(editor);
        // Where the line edit draws its text: inside its border and padding, text margins and own margin.
        QStyleOptionFrame option;
        option.initFrom(line);
        option.rect = line->rect();
        const QRect contents = line->style()
                                   ->subElementRect(QStyle::SE_LineEditContents, &option, line)
                                   .marginsRemoved(line->textMargins())
                                   .adjusted(2, 0, -2, 0);
        EXPECT_LE(line->fontMetrics().horizontalAdvance(line->placeholderText()), contents.width());
        if (scale == 1.0) {
            EXPECT_EQ(line->width(), 150);
        }
    }
    QApplication::setFont(original);
}

TEST(KeywordEditorView, PaddingGrowsWithTheFirstKeyword)
{
    struct Case {
        bool sheet;
        int topEmpty;
        int topFilled;
    };
    for (const Case& c : {Case{false, 12, 18}, Case{true, 5, 15}}) {
        SCOPED_TRACE(c.sheet ? "sheet" : "pane");
        KeywordEditorView editor("", "", {}, "", c.sheet);
        EXPECT_EQ(editor.layout()->contentsMargins().top(), c.topEmpty);
        editor.setKeywordsString("one");
        EXPECT_EQ(editor.layout()->contentsMargins().top(), c.topFilled);
    }
}

} // namespace
