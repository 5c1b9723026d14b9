#pragma once

#include "lumetrove/library/Folder.h"
#include "lumetrove/library/FolderSection.h"

#include <QWidget>
#include <memory>
#include <optional>

class QMenu;

namespace lumetrove {

class FolderSidebarModel;
class FoldersListManager;
class LibrarySelection;
class ScreenshotsDB;
class ScreenshotsListManager;
class SmartFolderSheet;

/// The sidebar column: "Favourites" (All, Today, Yesterday, Last Week) and "Folders" (plain and smart
/// folders in their order), each row with its symbol, name and count, and under the list the buttons "New
/// Folder" and "New Smart Folder". The selected row is the root view's `LibrarySelection::section`; each
/// change of it sets the screenshot list's folder and time-period filters. Folder rows are renamed in
/// place, reordered by dragging and have a context menu; "All" and plain folders take screenshots dragged
/// from the list. Main thread.
class FolderListView : public QWidget {
    Q_OBJECT

public:
    /// `store` answers the counts; it must be the managers' store.
    FolderListView(FoldersListManager& folders, ScreenshotsListManager& screenshots, LibrarySelection& selection,
                   std::shared_ptr<ScreenshotsDB> store, QWidget* parent = nullptr);
    ~FolderListView() override;

    /// True while a folder's name field is open for typing.
    bool isEditingFolderName() const;
    FolderSidebarModel& sidebarModel() const { return *model_; }
    /// The section under a screenshot drag, highlighted; none when no drag is over a drop target.
    const std::optional<FolderSection>& dragOverFolderSection() const { return dragOverFolderSection_; }

    // The sidebar's actions, as its controls run them.
    void selectionChanged(const FolderSection& section);
    void addNewFolder();
    void newSmartFolder();
    void renameFolder(const Folder& folder);
    void deleteFolder(const Folder& folder);
    void editSmartFolder(const Folder& folder);
    /// Moves the folders at `sourcePositions` (indexes into the folder list) before `destination`.
    void moveFolders(const QList<int>& sourcePositions, int destination);
    bool dropOnAllRow();
    bool dropOnFolder(const Folder& folder);

    /// Sets the drop highlight (none clears it); the drop targets do so as a screenshot drag moves.
    void setDragOverFolderSection(std::optional<FolderSection> section);

signals:
    /// True while the sidebar list holds the keyboard focus.
    void listFocusChanged(bool focused);

private:
    struct SheetValues;
    class SidebarList;
    class RowDelegate;

    void presentSheet();
    void showFolderMenu(const Folder& folder, const QPoint& globalPosition);
    void selectRowOf(const FolderSection& section);
    /// Takes the dragged screenshot out of every folder (and puts it in `folder`), then reloads the list.
    bool fileDraggedScreenshot(const std::optional<Folder>& folder);

    FoldersListManager& folders_;
    ScreenshotsListManager& screenshots_;
    LibrarySelection& selection_;
    std::shared_ptr<ScreenshotsDB> store_;
    FolderSidebarModel* model_;
    SidebarList* list_;
    SmartFolderSheet* sheet_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    std::optional<FolderSection> dragOverFolderSection_;
    /// The values handed to the smart-folder sheet; they keep their last values between sheets.
    std::unique_ptr<SheetValues> sheetValues_;
    bool syncingSelection_ = false;
};

} // namespace lumetrove
