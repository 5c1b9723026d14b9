#pragma once

#include "lumetrove/library/Folder.h"
#include "lumetrove/library/FolderSection.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <memory>
#include <optional>

namespace lumetrove {

class FoldersListManager;
class ScreenshotsDB;
class ScreenshotsListManager;

/// The numbers the sidebar shows: all screenshots, the three periods and each folder (none where a count
/// failed, shown as 0).
struct SidebarCounts {
    std::optional<qint64> total;
    std::optional<qint64> today;
    std::optional<qint64> yesterday;
    std::optional<qint64> lastWeek;
    /// By folder id.
    QHash<qint64, std::optional<qint64>> folders;
};

/// Runs the sidebar's count queries. Any thread (the store serialises its statements).
SidebarCounts computeSidebarCounts(ScreenshotsDB& store, const QList<Folder>& folders);

/// The rows of the sidebar in one flat list: the header "Favourites", the four fixed sections, then, while
/// there are folders, the header "Folders" and every folder in sidebar order. Counts are worked out on the
/// thread pool whenever either list changes and shown when they arrive, never while painting. A folder's
/// name is edited in place; each edit writes the folder list (and so the database) at once. Main thread.
class FolderSidebarModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum class RowKind { header, section, folder };
    enum Role {
        /// `RowKind` as int.
        KindRole = Qt::UserRole + 1,
        /// The row's `FolderSection` (sections and folders).
        SectionRole,
        /// The count shown, 0 when unknown (sections and folders).
        CountRole,
        /// True for the "All" row and plain folders: rows that take a dropped screenshot.
        AcceptsScreenshotDropRole,
    };

    FolderSidebarModel(FoldersListManager& folders, ScreenshotsListManager& screenshots,
                       std::shared_ptr<ScreenshotsDB> store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    RowKind kindAt(int row) const;
    /// The section of a row; none for a header or a row outside the list.
    std::optional<FolderSection> sectionAt(int row) const;
    /// The row showing `section` (by id); -1 when none does.
    int rowOf(const FolderSection& section) const;
    /// The row of the first folder; folder `i` is at `firstFolderRow() + i`.
    static constexpr int firstFolderRow() { return 6; }

    const SidebarCounts& counts() const { return counts_; }
    /// Asks for fresh counts on the next turn of the event loop (several asks make one query run).
    void refreshCounts();
    /// True while a count run is under way or asked for.
    bool countsPending() const { return countsScheduled_ || countsInFlight_ > 0; }

signals:
    void countsChanged();

private:
    void foldersChanged(const QList<Folder>& folders);
    void startCountRun();

    FoldersListManager& foldersManager_;
    ScreenshotsListManager& screenshotsManager_;
    std::shared_ptr<ScreenshotsDB> store_;
    QList<Folder> folders_;
    SidebarCounts counts_;
    bool countsScheduled_ = false;
    int countsInFlight_ = 0;
    quint64 countTicket_ = 0;
};

} // namespace lumetrove
