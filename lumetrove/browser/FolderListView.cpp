#include "lumetrove/browser/FolderListView.h"

#include "lumetrove/browser/DragManager.h"
#include "lumetrove/browser/FolderSidebarModel.h"
#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/browser/SmartFolderSheet.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/NamedColors.h"
#include "lumetrove/platform/Symbols.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace lumetrove {

namespace {

/// The data of a folder being reordered within the sidebar: its position in the folder list.
const QString folderMoveType = QStringLiteral("application/x-lumetrove-folder-position");
/// The editor's property that holds the folder's name as it was when the editor opened.
constexpr const char* nameBeforeRename = "lumetroveNameBeforeRename";
constexpr int rowHeight = 28;
constexpr int iconSize = 16;
constexpr int countMinimumWidth = 50;
constexpr int rowMinimumWidth = 18 + iconSize + 8 + 40 + 4 + countMinimumWidth + 5 + 10;

/// The section of a sidebar row; none for a header.
std::optional<FolderSection> sectionOf(const QModelIndex& index)
{
    const auto* model = qobject_cast<const FolderSidebarModel*>(index.model());
    return model != nullptr ? model->sectionAt(index.row()) : std::nullopt;
}

FolderSidebarModel::RowKind kindOf(const QModelIndex& index)
{
    return static_cast<FolderSidebarModel::RowKind>(index.data(FolderSidebarModel::KindRole).toInt());
}

/// The colour of the sidebar's secondary texts (section titles, counts, an unnamed folder).
QColor secondaryTextColor(const QPalette& palette)
{
    return readablePlaceholderColor(palette, palette.currentColorGroup());
}

} // namespace

struct FolderListView::SheetValues {
    QString folderName = QStringLiteral("New Folder");
    QString folderKeywords;
    bool isEditingSmartFolder = false;
    std::optional<Folder> editingFolder;
};

// Paints the sidebar's rows and edits folder names. ---------------------------------------------------------

class FolderListView::RowDelegate : public QStyledItemDelegate {
public:
    explicit RowDelegate(FolderListView& owner) : QStyledItemDelegate(&owner), owner_(owner) {}

    // Rows take the list's width, whatever it is: a row no wider than its symbol, a short name and its count
    // never makes the list scroll sideways, which would hide the counts at the trailing edge.
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return QSize(rowMinimumWidth, rowHeight);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QPalette& palette = option.palette;
        const QRect rect = option.rect;
        if (kindOf(index) == FolderSidebarModel::RowKind::header) {
            QFont font = option.font;
            font.setBold(true);
            font.setPointSizeF(font.pointSizeF() - 1);
            painter->setFont(font);
            painter->setPen(secondaryTextColor(palette));
            painter->drawText(rect.adjusted(10, 0, -10, 0), Qt::AlignLeft | Qt::AlignBottom, index.data().toString());
            painter->restore();
            return;
        }

        const std::optional<FolderSection>& dragOver = owner_.dragOverFolderSection();
        const bool highlighted = dragOver && dragOver == sectionOf(index);
        const bool selected = option.state & QStyle::State_Selected;
        QColor textColor = palette.color(QPalette::Text);
        const QRect background = rect.adjusted(10, 1, -10, -1);
        if (highlighted) {
            QPainterPath path;
            path.addRoundedRect(background, 5, 5);
            painter->fillPath(path, namedColor(u"ListDragHighlightColor", palette));
            textColor = Qt::white;
        } else if (selected) {
            QPainterPath path;
            path.addRoundedRect(background, 5, 5);
            painter->fillPath(path, palette.color(QPalette::Highlight));
            textColor = palette.color(QPalette::HighlightedText);
        }

        const QRect iconRect(rect.left() + 18, rect.center().y() - iconSize / 2 + 1, iconSize, iconSize);
        const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
        if (highlighted || selected) {
            // On the bar the symbol takes the label's colour: in its own grey it all but vanishes into the blue.
            QPixmap symbol = icon.pixmap(iconRect.size(), painter->device()->devicePixelRatioF());
            QPainter tint(&symbol);
            tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tint.fillRect(symbol.rect(), textColor);
            tint.end();
            painter->drawPixmap(iconRect, symbol);
        } else {
            icon.paint(painter, iconRect);
        }

        QFont countFont = option.font;
        countFont.setWeight(QFont::Medium);
        const QString count = QString::number(index.data(FolderSidebarModel::CountRole).toLongLong());
        const int countWidth = std::max(countMinimumWidth, QFontMetrics(countFont).horizontalAdvance(count));
        const QRect countRect(rect.right() - 10 - 5 - countWidth, rect.top(), countWidth, rect.height());
        const QRect labelRect(iconRect.right() + 8, rect.top(), countRect.left() - iconRect.right() - 12,
                              rect.height());

        const bool isFolder = kindOf(index) == FolderSidebarModel::RowKind::folder;
        QString label = index.data().toString();
        painter->setFont(option.font);
        if (isFolder) {
            // Folder names go grey while the window is inactive. The view's own "active" state follows its
            // keyboard focus, which would make every row look disabled whenever the sidebar lacks it.
            const bool windowActive = option.widget == nullptr || option.widget->isActiveWindow();
            if (!windowActive && !highlighted && !selected) {
                textColor = palette.color(QPalette::Disabled, QPalette::Text);
            }
            // Folder names are a little faded unless some folder's name is being edited.
            painter->setOpacity(owner_.isEditingFolderName() ? 1.0 : 0.85);
            if (label.isEmpty()) {
                label = tr("New Folder");
                textColor = secondaryTextColor(palette);
            }
        }
        painter->setPen(textColor);
        painter->drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(option.font).elidedText(label, Qt::ElideRight, labelRect.width()));
        painter->setOpacity(0.7);
        painter->setFont(countFont);
        painter->setPen(highlighted || selected ? textColor : secondaryTextColor(palette));
        painter->drawText(countRect, Qt::AlignRight | Qt::AlignVCenter, count);
        painter->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        if (kindOf(index) != FolderSidebarModel::RowKind::folder) {
            return nullptr;
        }
        auto* editor = new QLineEdit(parent);
        editor->setPlaceholderText(tr("New Folder"));
        editor->setAccessibleName(tr("Folder name"));
        editor->setFrame(false);
        editor->setProperty(nameBeforeRename, index.data(Qt::EditRole));
        // Every keystroke is written through to the folder list, as the name is typed.
        connect(editor, &QLineEdit::textEdited, this,
                [this, editor] { emit const_cast<RowDelegate*>(this)->commitData(editor); });
        return editor;
    }

    // Escape takes back what the keystrokes wrote through: the folder gets the name it had when the editor
    // opened, and the editor closes.
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            if (auto* field = qobject_cast<QLineEdit*>(object)) {
                const QVariant before = field->property(nameBeforeRename);
                if (before.isValid() && field->text() != before.toString()) {
                    field->setText(before.toString());
                    emit commitData(field);
                }
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

    // The view hands the row's data to its open editor again whenever the row changes: when its count
    // arrives a moment after the editor opened, and after every keystroke written through. Setting the same
    // text again would drop the selection (a new folder's name, selected for typing over) and move the
    // cursor to the end, so the field is set only when the name itself changed elsewhere.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        auto* field = static_cast<QLineEdit*>(editor);
        const QString name = index.data(Qt::EditRole).toString();
        if (field->text() != name) {
            field->setText(name);
        }
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        editor->setGeometry(option.rect.adjusted(18 + iconSize + 6, 3, -(10 + 5 + countMinimumWidth), -3));
    }

private:
    FolderListView& owner_;
};

// The list: drop targets, folder reordering and the context menu. ------------------------------------------

class FolderListView::SidebarList : public QListView {
public:
    explicit SidebarList(FolderListView& owner) : QListView(&owner), owner_(owner)
    {
        setAccessibleName(tr("Sidebar"));
        setUniformItemSizes(true);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
        setDragEnabled(true);
        viewport()->setAcceptDrops(true);
        setDropIndicatorShown(true);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

    /// The folder row under `point` and where a folder dropped there goes (a position in the folder list).
    std::optional<int> folderDestinationAt(const QPoint& point) const
    {
        const QModelIndex index = indexAt(point);
        const int folderCount = model()->rowCount() - FolderSidebarModel::firstFolderRow();
        if (folderCount <= 0) {
            return std::nullopt;
        }
        if (!index.isValid()) {
            return point.y() > visualRect(model()->index(model()->rowCount() - 1, 0)).bottom()
                       ? std::optional<int>(folderCount)
                       : std::nullopt;
        }
        if (kindOf(index) != FolderSidebarModel::RowKind::folder) {
            return std::nullopt;
        }
        const int position = index.row() - FolderSidebarModel::firstFolderRow();
        return point.y() > visualRect(index).center().y() ? position + 1 : position;
    }

protected:
    void startDrag(Qt::DropActions) override
    {
        const QModelIndex index = currentIndex();
        if (!index.isValid() || kindOf(index) != FolderSidebarModel::RowKind::folder) {
            return;
        }
        auto* data = new QMimeData;
        data->setData(folderMoveType, QByteArray::number(index.row() - FolderSidebarModel::firstFolderRow()));
        QPointer<QDrag> drag = new QDrag(this);
        drag->setMimeData(data);
        activeFolderDrag_ = data;
        drag->exec(Qt::MoveAction);
        activeFolderDrag_ = nullptr;
        if (drag != nullptr) {
            drag->deleteLater();
        }
    }

    void dragEnterEvent(QDragEnterEvent* event) override
    {
        dragMoveEvent(event);
        // A target whose enter is refused gets none of the drag's moves until it leaves and comes back. A
        // hand on a mouse brings a drag in over rows that take nothing (a period, a header, the space below
        // the rows) on its way to a folder: the enter of the application's own drags is taken, and each move
        // then tells whether the row under the pointer takes the drop.
        if (isOwnScreenshotDrag(*event) || isOwnFolderMove(*event)) {
            event->accept();
        }
    }

    void dragMoveEvent(QDragMoveEvent* event) override
    {
        const QPoint point = event->position().toPoint();
        if (isOwnScreenshotDrag(*event)) {
            const QModelIndex index = indexAt(point);
            if (index.isValid() && index.data(FolderSidebarModel::AcceptsScreenshotDropRole).toBool()) {
                owner_.setDragOverFolderSection(sectionOf(index));
                event->setDropAction(Qt::CopyAction);
                event->accept();
                return;
            }
        } else if (isOwnFolderMove(*event) && folderDestinationAt(point)) {
            event->setDropAction(Qt::MoveAction);
            event->accept();
            return;
        }
        // Files, text and drags of other programs are refused, as is any row that takes no screenshot.
        owner_.setDragOverFolderSection(std::nullopt);
        event->ignore();
    }

    void dragLeaveEvent(QDragLeaveEvent*) override { owner_.setDragOverFolderSection(std::nullopt); }

    void dropEvent(QDropEvent* event) override
    {
        owner_.setDragOverFolderSection(std::nullopt);
        const QPoint point = event->position().toPoint();
        if (isOwnScreenshotDrag(*event)) {
            const QModelIndex index = indexAt(point);
            bool taken = false;
            if (index.isValid() && index.data(FolderSidebarModel::AcceptsScreenshotDropRole).toBool()) {
                const std::optional<Folder> folder = sectionOf(index)->folder();
                taken = folder ? owner_.dropOnFolder(*folder) : owner_.dropOnAllRow();
            }
            taken ? event->acceptProposedAction() : event->ignore();
            return;
        }
        if (isOwnFolderMove(*event)) {
            if (const std::optional<int> destination = folderDestinationAt(point)) {
                owner_.moveFolders({event->mimeData()->data(folderMoveType).toInt()}, *destination);
                event->setDropAction(Qt::MoveAction);
                event->accept();
                return;
            }
        }
        event->ignore();
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        const QModelIndex index = event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : currentIndex();
        if (!index.isValid() || kindOf(index) != FolderSidebarModel::RowKind::folder) {
            return;
        }
        owner_.showFolderMenu(*sectionOf(index)->folder(), event->globalPos());
    }

public:
    bool isEditing() const { return state() == EditingState; }

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        QListView::focusInEvent(event);
        emit owner_.listFocusChanged(true);
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        QListView::focusOutEvent(event);
        emit owner_.listFocusChanged(false);
    }

private:
    bool isOwnFolderMove(const QDropEvent& event) const
    {
        return event.mimeData() != nullptr && event.mimeData() == activeFolderDrag_ &&
               event.mimeData()->hasFormat(folderMoveType);
    }

    FolderListView& owner_;
    const QMimeData* activeFolderDrag_ = nullptr;
};

// The sidebar. ---------------------------------------------------------------------------------------------

FolderListView::FolderListView(FoldersListManager& folders, ScreenshotsListManager& screenshots,
                               LibrarySelection& selection, std::shared_ptr<ScreenshotsDB> store, QWidget* parent)
    : QWidget(parent), folders_(folders), screenshots_(screenshots), selection_(selection), store_(std::move(store)),
      model_(new FolderSidebarModel(folders, screenshots, store_, this)), list_(new SidebarList(*this)),
      sheetValues_(std::make_unique<SheetValues>())
{
    list_->setModel(model_);
    list_->setItemDelegate(new RowDelegate(*this));

    const auto setUpButton = [](QToolButton* button, const QString& text, const QString& symbol) {
        button->setText(text);
        button->setIcon(symbolIcon(symbol));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        QPalette accent = button->palette();
        accent.setColor(QPalette::ButtonText, accent.color(QPalette::Highlight));
        button->setPalette(accent);
    };
    auto* newFolderButton = new QToolButton;
    auto* newSmartFolderButton = new QToolButton;
    setUpButton(newFolderButton, tr("New Folder"), QStringLiteral("plus.circle"));
    setUpButton(newSmartFolderButton, tr("New Smart Folder"), QStringLiteral("gearshape"));
    connect(newFolderButton, &QToolButton::clicked, this, &FolderListView::addNewFolder);
    connect(newSmartFolderButton, &QToolButton::clicked, this, &FolderListView::newSmartFolder);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(list_, 1);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(15);
    buttons->setContentsMargins(8, 8, 8, 0);
    buttons->addWidget(newFolderButton);
    buttons->addWidget(newSmartFolderButton);
    layout->addLayout(buttons);

    connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (syncingSelection_ || !current.isValid()) {
            return;
        }
        if (const std::optional<FolderSection> section = model_->sectionAt(current.row())) {
            selection_.setSection(*section);
        } else {
            // A click on a header selects nothing: the selected row is marked again.
            QTimer::singleShot(0, this, [this] { selectRowOf(selection_.section()); });
        }
    });
    connect(&selection_, &LibrarySelection::sectionChanged, this, [this](const FolderSection& section) {
        selectRowOf(section);
        selectionChanged(section);
    });
    // A new list of folders rebuilds the rows: the selected row is marked again.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { selectRowOf(selection_.section()); });
    selectRowOf(selection_.section());
}

FolderListView::~FolderListView()
{
    // The list reports its focus to this view as it goes, so it goes while this view is still whole.
    delete list_;
}

bool FolderListView::isEditingFolderName() const
{
    return list_->isEditing();
}

void FolderListView::selectRowOf(const FolderSection& section)
{
    const int row = model_->rowOf(section);
    syncingSelection_ = true;
    if (row < 0) {
        list_->selectionModel()->clear();
    } else {
        list_->selectionModel()->setCurrentIndex(model_->index(row), QItemSelectionModel::ClearAndSelect);
    }
    syncingSelection_ = false;
}

void FolderListView::selectionChanged(const FolderSection& section)
{
    switch (section.kind()) {
    case FolderSection::Kind::today:
    case FolderSection::Kind::yesterday:
    case FolderSection::Kind::lastWeek:
        screenshots_.setTimePeriod(section);
        screenshots_.setFolderFilter(std::nullopt);
        break;
    case FolderSection::Kind::all:
    case FolderSection::Kind::list:
        screenshots_.setFolderFilter(section.folder());
        screenshots_.setTimePeriod(std::nullopt);
        break;
    }
}

void FolderListView::addNewFolder()
{
    const std::optional<Folder> folder = folders_.addFolder(QStringLiteral("New Folder"), false, QString());
    if (!folder) {
        return;
    }
    selection_.setSection(FolderSection::list(*folder));
    // The new folder's name is selected for typing.
    list_->edit(model_->index(model_->rowOf(FolderSection::list(*folder))));
}

void FolderListView::renameFolder(const Folder& folder)
{
    selection_.setSection(FolderSection::list(folder));
    const int row = model_->rowOf(FolderSection::list(folder));
    if (row >= 0) {
        list_->edit(model_->index(row));
    }
}

void FolderListView::deleteFolder(const Folder& folder)
{
    const QList<Folder>& folders = folders_.folders();
    if (std::none_of(folders.cbegin(), folders.cend(), [&](const Folder& f) { return f.id == folder.id; })) {
        return;
    }
    // An open name field loses the focus at once (which ends its editing); the rows go with the deletion.
    if (list_->isEditing()) {
        list_->setFocus();
    }
    const qint64 folderId = folder.id;
    QTimer::singleShot(0, this, [this, folderId] {
        // Found again now: the list may have changed since the menu was opened.
        const QList<Folder>& current = folders_.folders();
        const auto found =
            std::find_if(current.cbegin(), current.cend(), [&](const Folder& f) { return f.id == folderId; });
        if (found == current.cend()) {
            return;
        }
        folders_.deleteFolders({found - current.cbegin()});
        // The screenshot list must not go on filtering by (and new captures must not be linked to) a folder
        // that is gone and whose id a new folder may take.
        if (selection_.section().kind() == FolderSection::Kind::list && selection_.section().folder()->id == folderId) {
            selection_.setSection(FolderSection::all());
        }
    });
}

void FolderListView::moveFolders(const QList<int>& sourcePositions, int destination)
{
    QList<Folder> folders = folders_.folders();
    QList<int> sources = sourcePositions;
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    QList<Folder> moving;
    int insertAt = std::clamp(destination, 0, static_cast<int>(folders.size()));
    for (auto it = sources.crbegin(); it != sources.crend(); ++it) {
        if (*it < 0 || *it >= folders.size()) {
            continue;
        }
        moving.prepend(folders.takeAt(*it));
        if (*it < insertAt) {
            --insertAt;
        }
    }
    for (qsizetype i = 0; i < moving.size(); ++i) {
        folders.insert(insertAt + i, moving.at(i));
    }
    folders_.setFolders(std::move(folders));
    folders_.renumberFolders();
}

void FolderListView::newSmartFolder()
{
    sheetValues_->folderName = QStringLiteral("New Folder");
    sheetValues_->folderKeywords.clear();
    sheetValues_->isEditingSmartFolder = false;
    presentSheet();
}

void FolderListView::editSmartFolder(const Folder& folder)
{
    sheetValues_->folderName = folder.name;
    sheetValues_->folderKeywords = folder.keywordsFilter.value_or(QString());
    sheetValues_->isEditingSmartFolder = true;
    sheetValues_->editingFolder = folder;
    presentSheet();
}

void FolderListView::presentSheet()
{
    if (sheet_ != nullptr) {
        return;
    }
    sheet_ =
        new SmartFolderSheet(folders_, screenshots_, selection_, sheetValues_->folderName, sheetValues_->folderKeywords,
                             sheetValues_->isEditingSmartFolder, sheetValues_->editingFolder, this);
    connect(sheet_, &QDialog::finished, this, [this] {
        // What was typed stays until the next "New Smart Folder" or "Edit Smart Folder" sets it again.
        sheetValues_->folderName = sheet_->folderName();
        sheetValues_->folderKeywords = sheet_->keywords();
        sheet_->deleteLater();
        sheet_ = nullptr;
    });
    sheet_->open();
}

void FolderListView::showFolderMenu(const Folder& folder, const QPoint& globalPosition)
{
    delete contextMenu_;
    contextMenu_ = new QMenu(this);
    contextMenu_->addAction(tr("Rename Folder"), this, [this, folder] { renameFolder(folder); });
    contextMenu_->addAction(tr("Delete Folder"), this, [this, folder] { deleteFolder(folder); });
    if (folder.isSmartFolder) {
        contextMenu_->addSeparator();
        contextMenu_->addAction(tr("Edit Smart Folder"), this, [this, folder] { editSmartFolder(folder); });
    }
    contextMenu_->popup(globalPosition);
}

void FolderListView::setDragOverFolderSection(std::optional<FolderSection> section)
{
    const bool same =
        section.has_value() == dragOverFolderSection_.has_value() && (!section || *section == *dragOverFolderSection_);
    if (same) {
        return;
    }
    dragOverFolderSection_ = std::move(section);
    list_->viewport()->update();
}

bool FolderListView::dropOnAllRow()
{
    return fileDraggedScreenshot(std::nullopt);
}

bool FolderListView::dropOnFolder(const Folder& folder)
{
    return fileDraggedScreenshot(folder);
}

bool FolderListView::fileDraggedScreenshot(const std::optional<Folder>& folder)
{
    const ScreenshotPtr screenshot = DragManager::shared().draggedScreenshot();
    if (screenshot == nullptr) {
        return false;
    }
    // A screenshot is in at most one folder: a drop moves it there from wherever it was, in one write. The
    // list takes the row that write gives back.
    if (screenshot->moveToFolder(folder ? std::optional<qint64>(folder->id) : std::nullopt)) {
        model_->refreshCounts();
    }
    return true;
}

} // namespace lumetrove
