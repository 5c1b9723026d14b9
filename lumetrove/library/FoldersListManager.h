#pragma once

#include "lumetrove/library/Folder.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <set>

namespace lumetrove {

class ScreenshotsDB;

/// The observable list of folders and smart folders in sidebar order. Every assignment of the list (and
/// every change made through the operations below) writes the whole list back to the database. Main thread.
class FoldersListManager : public QObject {
    Q_OBJECT

public:
    /// Loads the folders of `store` (and, like every assignment, saves them back once).
    explicit FoldersListManager(std::shared_ptr<ScreenshotsDB> store, QObject* parent = nullptr);
    ~FoldersListManager() override;

    const QList<Folder>& folders() const { return folders_; }
    /// Replaces the list, then saves it.
    void setFolders(QList<Folder> folders);

    /// The folders in database order; empty (after a log line) when they cannot be read.
    QList<Folder> loadFolders();
    /// Adds a folder at the end of the list; none when the database refused it.
    std::optional<Folder> addFolder(const QString& name, bool isSmartFolder,
                                    const std::optional<QString>& keywordsFilter);
    /// Replaces the folder with the same id; logs when the list does not hold it.
    void updateFolder(const Folder& folder);
    /// Deletes the folders at these positions of the list as it stood when the call began (their links go,
    /// their screenshots stay), then renumbers. Positions outside the list are ignored.
    void deleteFolders(const std::set<qsizetype>& positions);
    /// Sets every folder's sort order to its index.
    void renumberFolders();
    /// Writes every folder that the database still holds.
    void saveFolders();

signals:
    void foldersChanged(const QList<lumetrove::Folder>& folders);

private:
    void foldersDidChange();

    std::shared_ptr<ScreenshotsDB> store_;
    QList<Folder> folders_;
};

} // namespace lumetrove
