#pragma once

#include "lumetrove/library/Folder.h"

#include <QDialog>
#include <optional>

class QLayout;
class QLineEdit;
class QMessageBox;

namespace lumetrove {

class FoldersListManager;
class LibrarySelection;
class ScreenshotsListManager;

/// The window-modal sheet in which a smart folder is made or edited: a name and keywords. "OK" (Return)
/// checks that neither is blank, saves through the folder list, points the screenshot list at the result
/// and closes; "Cancel" (Escape) closes without saving. Opened with `open()`; its alerts are window-modal
/// too. Main thread.
class SmartFolderSheet : public QDialog {
    Q_OBJECT

public:
    /// `editingFolder` is used only when `isEditing` is true.
    SmartFolderSheet(FoldersListManager& folders, ScreenshotsListManager& screenshots, LibrarySelection& selection,
                     const QString& folderName, const QString& keywords, bool isEditing,
                     std::optional<Folder> editingFolder, QWidget* parent = nullptr);

    /// "OK": validates, saves and closes, or shows an alert and stays open.
    void save();

    QString folderName() const;
    const QString& keywords() const { return keywords_; }

private:
    /// The rows of the sheet, built once by the constructor; the name field is the one kept.
    QLayout* buildNameRow(const QString& folderName);
    QLayout* buildKeywordsBlock(const QString& keywords);
    /// "Cancel" and "OK", at the trailing end.
    QLayout* buildButtons();
    void showAlert(const QString& title, const QString& message);

    FoldersListManager& folders_;
    ScreenshotsListManager& screenshots_;
    LibrarySelection& selection_;
    QString keywords_;
    bool isEditing_;
    std::optional<Folder> editingFolder_;
    QLineEdit* nameField_;
    /// The validation alert while it is shown, else null.
    QMessageBox* alert_ = nullptr;
};

} // namespace lumetrove
