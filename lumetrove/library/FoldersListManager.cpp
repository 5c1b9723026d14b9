#include "lumetrove/library/FoldersListManager.h"

#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/Log.h"

#include <QSet>

namespace lumetrove {

FoldersListManager::FoldersListManager(std::shared_ptr<ScreenshotsDB> store, QObject* parent)
    : QObject(parent), store_(std::move(store))
{
    setFolders(loadFolders());
}

FoldersListManager::~FoldersListManager() = default;

void FoldersListManager::setFolders(QList<Folder> folders)
{
    folders_ = std::move(folders);
    foldersDidChange();
}

void FoldersListManager::foldersDidChange()
{
    emit foldersChanged(folders_);
    saveFolders();
}

QList<Folder> FoldersListManager::loadFolders()
{
    const StoreResult<std::vector<Folder>> folders = store_->queryFolders();
    if (!folders) {
        if (folders.error().kind() != StoreError::Kind::noConnection) {
            systemLog(QStringLiteral("Error loading folders from DB: ") + folders.error().description());
        }
        return {};
    }
    return QList<Folder>(folders->begin(), folders->end());
}

void FoldersListManager::saveFolders()
{
    QSet<qint64> stored;
    for (const Folder& folder : loadFolders()) {
        stored.insert(folder.id);
    }
    for (const Folder& folder : folders_) {
        if (stored.contains(folder.id)) {
            (void)store_->updateFolder(folder);
        }
    }
}

std::optional<Folder> FoldersListManager::addFolder(const QString& name, bool isSmartFolder,
                                                    const std::optional<QString>& keywordsFilter)
{
    const std::optional<qint64> id = store_->insertFolder(name, isSmartFolder, keywordsFilter);
    if (!id) {
        return std::nullopt;
    }
    folders_.append(Folder{*id, 0, name, isSmartFolder, keywordsFilter});
    foldersDidChange();
    renumberFolders();
    setFolders(loadFolders());
    for (const Folder& folder : folders_) {
        if (folder.id == *id) {
            return folder;
        }
    }
    return std::nullopt;
}

void FoldersListManager::updateFolder(const Folder& folder)
{
    for (Folder& existing : folders_) {
        if (existing.id == folder.id) {
            existing = folder;
            foldersDidChange();
            return;
        }
    }
    systemLog(QStringLiteral("Folder with ID %1 not found.").arg(folder.id));
}

void FoldersListManager::deleteFolders(const std::set<qsizetype>& positions)
{
    const QList<Folder> before = folders_;
    for (const qsizetype position : positions) {
        if (position < 0 || position >= before.size()) {
            continue;
        }
        const Folder& folder = before[position];
        if (!store_->deleteFolder(folder.id)) {
            continue; // the user was told; the folder stays, as it does in the library
        }
        for (qsizetype index = 0; index < folders_.size(); ++index) {
            if (folders_[index].id == folder.id) {
                folders_.removeAt(index);
                foldersDidChange();
                break;
            }
        }
    }
    renumberFolders();
}

void FoldersListManager::renumberFolders()
{
    const qsizetype count = folders_.size();
    for (qsizetype index = 0; index < count && index < folders_.size(); ++index) {
        folders_[index].sort_order = index;
        foldersDidChange();
    }
}

} // namespace lumetrove
