#include "lumetrove/browser/FolderSidebarModel.h"

#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/Symbols.h"

#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent>

namespace lumetrove {

namespace {

constexpr int favouritesHeaderRow = 0;
constexpr int firstSectionRow = 1;
constexpr int foldersHeaderRow = 5;

struct FixedSection {
    FolderSection section;
    const char* label;
};

const std::array<FixedSection, 4>& fixedSections()
{
    static const std::array<FixedSection, 4> sections{
        FixedSection{FolderSection::all(), "All"},
        FixedSection{FolderSection::today(), "Today"},
        FixedSection{FolderSection::yesterday(), "Yesterday"},
        FixedSection{FolderSection::lastWeek(), "Last Week"},
    };
    return sections;
}

} // namespace

SidebarCounts computeSidebarCounts(ScreenshotsDB& store, const QList<Folder>& folders)
{
    SidebarCounts counts;
    counts.total = store.countScreenshots();
    counts.today = store.countScreenshotsInPeriod(FolderSection::today());
    counts.yesterday = store.countScreenshotsInPeriod(FolderSection::yesterday());
    counts.lastWeek = store.countScreenshotsInPeriod(FolderSection::lastWeek());
    for (const Folder& folder : folders) {
        counts.folders.insert(folder.id, store.countScreenshotsInFolder(folder));
    }
    return counts;
}

FolderSidebarModel::FolderSidebarModel(FoldersListManager& folders, ScreenshotsListManager& screenshots,
                                       std::shared_ptr<ScreenshotsDB> store, QObject* parent)
    : QAbstractListModel(parent), foldersManager_(folders), screenshotsManager_(screenshots), store_(std::move(store)),
      folders_(folders.folders())
{
    connect(&folders, &FoldersListManager::foldersChanged, this, &FolderSidebarModel::foldersChanged);
    connect(&screenshots, &ScreenshotsListManager::screenshotsChanged, this, &FolderSidebarModel::refreshCounts);
    refreshCounts();
}

int FolderSidebarModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) {
        return 0;
    }
    return folders_.isEmpty() ? foldersHeaderRow : firstFolderRow() + static_cast<int>(folders_.size());
}

FolderSidebarModel::RowKind FolderSidebarModel::kindAt(int row) const
{
    if (row == favouritesHeaderRow || row == foldersHeaderRow) {
        return RowKind::header;
    }
    return row < foldersHeaderRow ? RowKind::section : RowKind::folder;
}

std::optional<FolderSection> FolderSidebarModel::sectionAt(int row) const
{
    if (row < 0 || row >= rowCount()) {
        return std::nullopt;
    }
    switch (kindAt(row)) {
    case RowKind::header:
        return std::nullopt;
    case RowKind::section:
        return fixedSections().at(static_cast<std::size_t>(row - firstSectionRow)).section;
    case RowKind::folder:
        return FolderSection::list(folders_.at(row - firstFolderRow()));
    }
    return std::nullopt;
}

int FolderSidebarModel::rowOf(const FolderSection& section) const
{
    for (int row = 0; row < rowCount(); ++row) {
        if (const std::optional<FolderSection> here = sectionAt(row); here && *here == section) {
            return row;
        }
    }
    return -1;
}

QVariant FolderSidebarModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const int row = index.row();
    const RowKind kind = kindAt(row);
    if (role == KindRole) {
        return static_cast<int>(kind);
    }
    if (kind == RowKind::header) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
            return row == favouritesHeaderRow ? tr("Favourites") : tr("Folders");
        }
        return {};
    }
    const FolderSection section = *sectionAt(row);
    const std::optional<Folder>& folder = section.folder();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return folder ? folder->name
                      : QString::fromLatin1(fixedSections().at(static_cast<std::size_t>(row - firstSectionRow)).label);
    case Qt::EditRole:
        return folder ? folder->name : QVariant();
    case Qt::DecorationRole:
        if (!folder) {
            return symbolIcon(section.kind() == FolderSection::Kind::all ? QStringLiteral("star")
                                                                         : QStringLiteral("clock"));
        }
        return symbolIcon(folder->isSmartFolder ? QStringLiteral("gearshape") : QStringLiteral("folder"));
    case SectionRole:
        return QVariant::fromValue(section);
    case CountRole: {
        std::optional<qint64> count;
        switch (section.kind()) {
        case FolderSection::Kind::all:
            count = counts_.total;
            break;
        case FolderSection::Kind::today:
            count = counts_.today;
            break;
        case FolderSection::Kind::yesterday:
            count = counts_.yesterday;
            break;
        case FolderSection::Kind::lastWeek:
            count = counts_.lastWeek;
            break;
        case FolderSection::Kind::list:
            count = counts_.folders.value(folder->id);
            break;
        }
        return count.value_or(0);
    }
    case AcceptsScreenshotDropRole:
        return folder ? !folder->isSmartFolder : section.kind() == FolderSection::Kind::all;
    default:
        return {};
    }
}

bool FolderSidebarModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !checkIndex(index) || kindAt(index.row()) != RowKind::folder) {
        return false;
    }
    QList<Folder> folders = foldersManager_.folders();
    const int position = index.row() - firstFolderRow();
    if (position >= folders.size() || folders[position].id != folders_.at(position).id) {
        return false;
    }
    // No name is refused: an empty one is stored and the field shows its placeholder.
    folders[position].name = value.toString();
    foldersManager_.setFolders(std::move(folders));
    return true;
}

Qt::ItemFlags FolderSidebarModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::ParentIsInvalid)) {
        return Qt::NoItemFlags;
    }
    switch (kindAt(index.row())) {
    case RowKind::header:
        return Qt::ItemIsEnabled;
    case RowKind::section:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    case RowKind::folder:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    }
    return Qt::NoItemFlags;
}

void FolderSidebarModel::foldersChanged(const QList<Folder>& folders)
{
    const bool sameRows =
        folders.size() == folders_.size() && std::equal(folders.cbegin(), folders.cend(), folders_.cbegin(),
                                                        [](const Folder& a, const Folder& b) { return a.id == b.id; });
    if (sameRows) {
        // A rename or a new sort order: the rows stay, so an open name editor stays open.
        folders_ = folders;
        if (!folders_.isEmpty()) {
            emit dataChanged(index(firstFolderRow()), index(rowCount() - 1));
        }
    } else {
        beginResetModel();
        folders_ = folders;
        endResetModel();
    }
    refreshCounts();
}

void FolderSidebarModel::refreshCounts()
{
    // Closed to the tray, nothing shows the numbers, and counting would fill the library's page cache just given
    // back; the list read when the window is shown again brings a count with it.
    if (countsScheduled_ || screenshotsManager_.rowsReleased()) {
        return;
    }
    countsScheduled_ = true;
    QTimer::singleShot(0, this, &FolderSidebarModel::startCountRun);
}

void FolderSidebarModel::startCountRun()
{
    countsScheduled_ = false;
    const quint64 ticket = ++countTicket_;
    ++countsInFlight_;
    // The watcher is a child of the model: when the model goes first, the answer goes nowhere.
    auto* watcher = new QFutureWatcher<SidebarCounts>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, ticket] {
        watcher->deleteLater();
        --countsInFlight_;
        // A run started later has newer numbers.
        if (ticket != countTicket_) {
            return;
        }
        counts_ = watcher->result();
        if (rowCount() > 0) {
            emit dataChanged(index(0), index(rowCount() - 1), {CountRole});
        }
        emit countsChanged();
    });
    watcher->setFuture(
        QtConcurrent::run([store = store_, folders = folders_] { return computeSidebarCounts(*store, folders); }));
}

} // namespace lumetrove
