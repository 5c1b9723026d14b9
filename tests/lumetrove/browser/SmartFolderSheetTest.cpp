#include "lumetrove/browser/SmartFolderSheet.h"

#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/browser/BrowserTest.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace lumetrove {
namespace {

class SmartFolderSheetTest : public testing::BrowserTest {
protected:
    void SetUp() override
    {
        BrowserTest::SetUp();
        makeLibrary(0);
        window.resize(600, 400);
        window.show();
    }

    std::unique_ptr<SmartFolderSheet> makeSheet(const QString& name, const QString& keywords, bool isEditing,
                                                std::optional<Folder> editing = std::nullopt)
    {
        auto sheet = std::make_unique<SmartFolderSheet>(*folders, *screenshots, selection, name, keywords, isEditing,
                                                        std::move(editing), &window);
        sheet->open();
        return sheet;
    }
    // The sheet's controls, found as a screen reader finds them. Each test asserts it has them before use.
    static QLineEdit* nameField(SmartFolderSheet& sheet)
    {
        return testing::controlNamed<QLineEdit>(&sheet, QStringLiteral("Name"));
    }

    /// Types `text` into the keyword field and presses "Add".
    static void addKeywords(SmartFolderSheet& sheet, const QString& text)
    {
        auto* field = testing::controlNamed<QLineEdit>(&sheet, QStringLiteral("Keywords"));
        auto* add = testing::controlNamed<QPushButton>(&sheet, QStringLiteral("Add"));
        ASSERT_TRUE(field && add);
        QTest::keyClicks(field, text);
        add->click();
    }

    QWidget window;
};

TEST_F(SmartFolderSheetTest, BlankNameOrKeywordsShowAnAlertAndKeepTheSheetOpen)
{
    struct Case {
        QString name;
        QString keywords;
        QString alertTitle;
    };
    for (const Case& c :
         {Case{"", "", "Name empty"}, Case{"   ", "cats", "Name empty"}, Case{"Pets", " \n", "Keywords Missing"}}) {
        SCOPED_TRACE(c.alertTitle.toStdString());
        auto sheet = makeSheet(c.name, c.keywords, false);
        sheet->save();
        const QMessageBox* alert = testing::controlNamed<QMessageBox>(sheet.get(), c.alertTitle);
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->text(),
                  c.alertTitle == "Name empty" ? "Name cannot be blank." : "You must add at least one keyword.");
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_TRUE(folders->folders().isEmpty());
    }
}

TEST_F(SmartFolderSheetTest, SavingANewSmartFolderStoresItAsTypedAndSelectsIt)
{
    auto sheet = makeSheet(QStringLiteral("New Folder"), QString(), false);
    EXPECT_TRUE(testing::controlNamed<QLabel>(sheet.get(), QStringLiteral("New Smart Folder")));
    QLineEdit* name = nameField(*sheet);
    ASSERT_TRUE(name);
    // The name field has the keyboard, its default name selected: what is typed replaces it.
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    EXPECT_EQ(QApplication::focusWidget(), name);
    EXPECT_EQ(name->selectedText(), "New Folder");
    QTest::keyClicks(name, QStringLiteral(" Pets "));
    // Return in the keyword field adds what was typed there and keeps the sheet open for the next keyword.
    auto* keywordField = testing::controlNamed<QLineEdit>(sheet.get(), QStringLiteral("Keywords"));
    ASSERT_TRUE(keywordField);
    for (const QString& typed : {QStringLiteral("Cats"), QStringLiteral("dogs")}) {
        QTest::keyClicks(keywordField, typed);
        QTest::keyClick(keywordField, Qt::Key_Return);
        EXPECT_TRUE(sheet->isVisible()) << typed.toStdString();
        EXPECT_TRUE(folders->folders().isEmpty());
    }
    EXPECT_EQ(sheet->keywords(), "cats dogs");
    // With nothing typed in it, Return there saves, as it does from the name field.
    QTest::keyClick(keywordField, Qt::Key_Return);
    ASSERT_EQ(folders->folders().size(), 1);
    const Folder folder = folders->folders().first();
    EXPECT_EQ(folder.name, " Pets ");
    EXPECT_TRUE(folder.isSmartFolder);
    EXPECT_EQ(folder.keywordsFilter, "cats dogs");
    EXPECT_EQ(selection.section(), FolderSection::list(folder));
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(SmartFolderSheetTest, EditingKeepsIdOrderAndFlagAndPointsTheListAtTheFolder)
{
    folders->addFolder(QStringLiteral("First"), false, QString());
    const Folder smart = *folders->addFolder(QStringLiteral("Old"), true, QStringLiteral("old"));
    auto sheet = makeSheet(smart.name, *smart.keywordsFilter, true, smart);
    EXPECT_TRUE(testing::controlNamed<QLabel>(sheet.get(), QStringLiteral("Edit Smart Folder")));
    QLineEdit* name = nameField(*sheet);
    ASSERT_TRUE(name);
    name->setText(QStringLiteral("Renamed"));
    // The old keyword's chip removes it when clicked.
    auto* old = testing::controlNamed<QPushButton>(sheet.get(), QStringLiteral("old"));
    ASSERT_TRUE(old);
    old->click();
    ASSERT_NO_FATAL_FAILURE(addKeywords(*sheet, QStringLiteral("new words")));
    sheet->save();
    const Folder updated = folders->folders()[1];
    EXPECT_EQ(updated.id, smart.id);
    EXPECT_EQ(updated.sort_order, smart.sort_order);
    EXPECT_TRUE(updated.isSmartFolder);
    EXPECT_EQ(updated.name, "Renamed");
    EXPECT_EQ(updated.keywordsFilter, "new words");
    EXPECT_EQ(screenshots->folderFilter(), updated);
    // The sidebar keeps its selection.
    EXPECT_EQ(selection.section(), FolderSection::all());
}

TEST_F(SmartFolderSheetTest, EscapeCancelsWithoutSaving)
{
    auto sheet = makeSheet(QStringLiteral("Pets"), QStringLiteral("cats"), false);
    QLineEdit* name = nameField(*sheet);
    ASSERT_TRUE(name);
    QTest::keyClick(name, Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(folders->folders().isEmpty());
}

} // namespace
} // namespace lumetrove
