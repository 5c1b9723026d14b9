#include "lumetrove/browser/SmartFolderSheet.h"

#include "lumetrove/views/KeywordEditorView.h"
#include "tests/lumetrove/AccessibleControls.h"
#include "tests/lumetrove/browser/BrowserTest.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
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
    /// The name field, found as a screen reader finds it.
    static QLineEdit& nameField(SmartFolderSheet& sheet)
    {
        QLineEdit* field = testing::controlNamed<QLineEdit>(&sheet, QStringLiteral("Name:"));
        EXPECT_TRUE(field);
        return field ? *field : sheet.nameField();
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
        ASSERT_NE(sheet->alert(), nullptr);
        EXPECT_EQ(sheet->alert()->text(),
                  c.alertTitle == "Name empty" ? "Name cannot be blank." : "You must add at least one keyword.");
        EXPECT_EQ(sheet->alert()->windowTitle(), c.alertTitle);
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_TRUE(folders->folders().isEmpty());
    }
}

TEST_F(SmartFolderSheetTest, SavingANewSmartFolderStoresItAsTypedAndSelectsIt)
{
    auto sheet = makeSheet(QStringLiteral("New Folder"), QString(), false);
    EXPECT_EQ(sheet->titleLabel().text(), "New Smart Folder");
    nameField(*sheet).setText(QStringLiteral(" Pets "));
    sheet->keywordEditor().setNewKeyword(QStringLiteral("Cats dogs"));
    sheet->keywordEditor().addKeywords();
    QTest::keyClick(&nameField(*sheet), Qt::Key_Return);
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
    EXPECT_EQ(sheet->titleLabel().text(), "Edit Smart Folder");
    nameField(*sheet).setText(QStringLiteral("Renamed"));
    sheet->keywordEditor().setKeywordsString(QStringLiteral("new words"));
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
    QTest::keyClick(&nameField(*sheet), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(folders->folders().isEmpty());
}

} // namespace
} // namespace lumetrove
