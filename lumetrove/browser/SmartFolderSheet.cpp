#include "lumetrove/browser/SmartFolderSheet.h"

#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/views/KeywordEditorView.h"

#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumetrove {

SmartFolderSheet::SmartFolderSheet(FoldersListManager& folders, ScreenshotsListManager& screenshots,
                                   LibrarySelection& selection, const QString& folderName, const QString& keywords,
                                   bool isEditing, std::optional<Folder> editingFolder, QWidget* parent)
    : QDialog(parent), folders_(folders), screenshots_(screenshots), selection_(selection), keywords_(keywords),
      isEditing_(isEditing), editingFolder_(std::move(editingFolder))
{
    setWindowModality(Qt::WindowModal);
    setFixedWidth(400);
    // The title is shown as it stands, not translated.
    const QString titleText =
        (isEditing ? QStringLiteral("Edit") : QStringLiteral("New")) + QStringLiteral(" Smart Folder");
    setWindowTitle(titleText);

    auto* stack = new QVBoxLayout(this);
    auto* title = new QLabel(titleText);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    stack->addWidget(title);

    auto* explanation =
        new QLabel(tr("A smart folder will automatically filter items that contain any of the keywords added below."));
    explanation->setWordWrap(true);
    explanation->setFixedHeight(40);
    auto* faded = new QGraphicsOpacityEffect(explanation);
    faded->setOpacity(0.7);
    explanation->setGraphicsEffect(faded);
    stack->addWidget(explanation);

    stack->addLayout(buildNameRow(folderName));
    stack->addLayout(buildKeywordsBlock(keywords));

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    stack->addWidget(divider);

    stack->addLayout(buildButtons());

    // The sheet opens with the name field taking the keyboard and its name selected, so that what is typed
    // replaces it, as when a folder is renamed in the sidebar.
    nameField_->selectAll();
    nameField_->setFocus();
}

QLayout* SmartFolderSheet::buildNameRow(const QString& folderName)
{
    auto* nameRow = new QHBoxLayout;
    auto* nameLabel = new QLabel(tr("Name:"));
    nameField_ = new QLineEdit(folderName);
    nameField_->setPlaceholderText(tr("New Folder"));
    nameField_->setAccessibleName(tr("Name"));
    nameLabel->setBuddy(nameField_);
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(nameField_);
    return nameRow;
}

QLayout* SmartFolderSheet::buildKeywordsBlock(const QString& keywords)
{
    auto* keywordsBlock = new QVBoxLayout;
    keywordsBlock->setSpacing(0);
    keywordsBlock->addWidget(new QLabel(tr("Keywords:")));
    auto* keywordEditor = new KeywordEditorView(QString(), QString(), {}, keywords, true);
    connect(keywordEditor, &KeywordEditorView::keywordsStringChanged, this,
            [this](const QString& text) { keywords_ = text; });
    keywordsBlock->addWidget(keywordEditor);
    return keywordsBlock;
}

QLayout* SmartFolderSheet::buildButtons()
{
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    buttons->addStretch();
    auto* cancelButton = new QPushButton(tr("Cancel"));
    cancelButton->setAutoDefault(false);
    auto* okButton = new QPushButton(tr("OK"));
    okButton->setDefault(true);
    okButton->setFixedWidth(100);
    buttons->addWidget(cancelButton);
    buttons->addWidget(okButton);

    // Escape reaches QDialog::reject, Return the default button.
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(okButton, &QPushButton::clicked, this, &SmartFolderSheet::save);
    return buttons;
}

QString SmartFolderSheet::folderName() const
{
    return nameField_->text();
}

void SmartFolderSheet::save()
{
    // Trimming only decides emptiness; what is stored keeps the text as typed.
    if (folderName().trimmed().isEmpty()) {
        showAlert(tr("Name empty"), tr("Name cannot be blank."));
        return;
    }
    if (keywords_.trimmed().isEmpty()) {
        showAlert(tr("Keywords Missing"), tr("You must add at least one keyword."));
        return;
    }
    if (isEditing_) {
        if (!editingFolder_) {
            return;
        }
        Folder updated = *editingFolder_;
        updated.name = folderName();
        updated.keywordsFilter = keywords_;
        folders_.updateFolder(updated);
        screenshots_.setFolderFilter(updated);
        accept();
        return;
    }
    if (const std::optional<Folder> folder = folders_.addFolder(folderName(), true, keywords_)) {
        selection_.setSection(FolderSection::list(*folder));
    }
    accept();
}

void SmartFolderSheet::showAlert(const QString& title, const QString& message)
{
    delete alert_;
    alert_ = new QMessageBox(QMessageBox::NoIcon, title, message, QMessageBox::Ok, this);
    alert_->setWindowModality(Qt::WindowModal);
    connect(alert_, &QMessageBox::finished, this, [this] {
        alert_->deleteLater();
        alert_ = nullptr;
    });
    alert_->open();
}

} // namespace lumetrove
