#pragma once

#include "lumetrove/library/CaptureResult.h"
#include "lumetrove/library/CapturedScreenshotInfo.h"
#include "lumetrove/library/FolderSection.h"
#include "lumetrove/library/Screenshot.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QSplitter;
class QStackedWidget;
class QToolBar;
class QWindow;

namespace settingsopener {
class OpenSettingsAction;
}

namespace lumetrove {

class AppState;
class FirstLaunchChecker;
class FolderListView;
class FoldersListManager;
class LibrarySelection;
class ProblemBar;
class ScreenshotDetailView;
class ScreenshotList;
class ScreenshotListView;
class ScreenshotsDB;
class ScreenshotsListManager;
class SettingsViewModel;
class URLHandler;
struct ColumnWidths;
struct ScreenshotListChange;
struct Notification;

/// What the root view asks of the capture engine and of the screen-recording permission. The shell hands it
/// the shared engine (`sharedCaptureService`); tests hand it a fake.
class CaptureService {
public:
    using Infos = std::optional<QList<CapturedScreenshotInfo>>;
    /// Takes an area capture's records and answers what the main window does next.
    using CaptureCompletion = std::function<CaptureFollowUp(Infos infos, CaptureResult result)>;
    using Completion = std::function<void(Infos infos, CaptureResult result)>;

    virtual ~CaptureService() = default;
    /// The check before every capture; when it answers false it has shown its own permission window.
    virtual bool checkScreenCapturePermission() = 0;
    /// The quiet probe: can other applications' windows be read now? Shows nothing.
    virtual bool screenRecordingGranted() = 0;
    /// Begins an area capture; `completion` runs once, later, on the main thread.
    virtual void startAreaCapture(bool isAssistant, CaptureCompletion completion) = 0;
    /// Imports PNG and JPEG files; `step` is told each file as soon as it is done, and `completion` runs once
    /// on the main thread, after `skipped` was told the files left out (when there were any).
    virtual void performCaptureFromFileURLs(const QList<QUrl>& urls, Completion completion,
                                            SkippedImportsHandler skipped, ImportStepHandler step) = 0;
};

/// The shared capture engine and permission controller behind the `CaptureService` interface.
CaptureService& sharedCaptureService();

/// The main window's root view: the sidebar, the searchable screenshot list and the detail pane in three
/// columns, with the window's toolbar, the empty-list message, the first-launch arrow and the API-key alert.
/// It owns the window's screenshot list and its selection and is the one place where captures, imports,
/// deletions and the Settings signal end up. Main thread.
class ContentView : public QWidget {
    Q_OBJECT
public:
    using ListManagerFactory = std::function<ScreenshotsListManager*()>;

    /// What the window builds the view from. The references and the factory are required; null pointers
    /// take the process-wide objects (none for the first-launch checker and the Settings tab).
    struct Dependencies {
        /// Makes the window's screenshot list, which the view then owns.
        ListManagerFactory makeScreenshotsListManager{};
        FoldersListManager& foldersListManager;
        AppState& appState;
        FolderSection folderSelection = FolderSection::all();
        bool didTakeOrImportScreenshot = false;
        /// The window's minimum size while the first-launch arrow is shown.
        QSize minimumWindowSizeWithFirstLaunchArrow{};
        URLHandler* urlHandler = nullptr;
        FirstLaunchChecker* firstLaunchChecker = nullptr;
        SettingsViewModel* settingsViewModel = nullptr;
        CaptureService* capture = nullptr;
        /// The store behind the window's lists.
        std::shared_ptr<ScreenshotsDB> store{};
    };

    explicit ContentView(Dependencies dependencies, QWidget* parent = nullptr);
    ~ContentView() override;

    // State ---------------------------------------------------------------------------------------------
    ScreenshotsListManager& screenshotsListManager() const { return *screenshotsListManager_; }
    LibrarySelection& selection() const { return *selection_; }
    ScreenshotPtr selectedScreenshot() const;
    int screenshotsSelectionIndex() const;
    FolderSection folderSelection() const;
    const QString& searchText() const { return searchText_; }
    /// Sets the search field's text; every change sets the list's search filter.
    void setSearchText(const QString& text);
    bool didTakeOrImportScreenshot() const { return didTakeOrImportScreenshot_; }
    bool showEnterOpenAIAPIKeyAlert() const { return alert_ != nullptr; }

    // Views, for the window and for tests -----------------------------------------------------------------
    QToolBar* toolbar() const { return toolbar_; }
    FolderListView* sidebar() const { return sidebar_; }
    /// The detail pane, or null while the list is empty.
    ScreenshotDetailView* detailView() const;
    QLabel* firstLaunchArrow() const { return firstLaunchArrow_; }
    /// The API-key alert while it is shown.
    QMessageBox* alert() const { return alert_; }
    /// The line that tells how far the imports under way are ("Importing 12 of 520"), shown while they run.
    QLabel* importProgress() const { return importProgress_; }
    /// The line that says the library is being repaired, shown while it is.
    QLabel* repairProgress() const { return repairProgress_; }
    /// The message naming the files that imports left out, while it is shown.
    QMessageBox* skippedImportsAlert() const { return skippedImportsAlert_; }
    /// The message telling what opening the library found wrong with its file, while it is shown.
    QMessageBox* libraryProblemAlert() const { return libraryProblemAlert_; }

    // Operations ----------------------------------------------------------------------------------------
    void handleTakeScreenshotNotification(const Notification& notification);
    bool checkOpenAIAPIKey();
    void resetFiltersForNewScreenshot();
    /// Stores the records, or acts on their text at once for a text-only assistant task; the main window
    /// comes forward only when something was stored.
    CaptureFollowUp handleCaptureResult(const CaptureService::Infos& infos, CaptureResult result, bool shouldAIProcess);
    bool addCapturedScreenshots(const CaptureService::Infos& infos, bool wasImported, bool shouldAIProcess = false);
    void handleOpenedURLs(const QList<QUrl>& urls);
    void handleAppear();
    /// Imports the files: each file's row is added to the list as soon as its image is stored, and the line
    /// of `importProgress` counts the files done.
    void importFiles(const QList<QUrl>& urls);
    /// Tells the user, in one window-modal message, which files an import left out and why; files left out
    /// by a later import while it is shown join it.
    void showSkippedImports(const QList<SkippedImport>& skipped);
    void deleteSelectedScreenshot();
    void openOpenAISettings();
    void openOpenAISettingsAfterDelay();
    void selectFirstScreenshot();
    void listPublished(const ScreenshotList& screenshots, const ScreenshotListChange& change);
    void applySearchFilter();
    void focusMainViewSoon();
    bool shouldShowFirstLaunchArrow() const;

    // Fitting the window to its screen ---------------------------------------------------------------------
    /// The window's minimum size while the first-launch hint is shown; invalid (none) otherwise.
    QSize minimumWindowSize() const;
    /// The widest the view can be on its screen: where the columns' minimums do not fit, the list and detail
    /// columns give way (the sidebar keeps its own, which shows its counts). Unlimited until set.
    void setAvailableWidth(int width);
    /// Shares `width` among the columns: each its minimum, then the sidebar, list and detail towards their
    /// ideal widths. For the first layout of a window of that width.
    void divideColumns(int width);

signals:
    /// The first-launch condition changed; the window applies or drops its larger minimum size.
    void minimumWindowSizeChanged(QSize size);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The widgets, built once by the constructor.
    void buildToolbar();
    void buildLayout(FoldersListManager& foldersListManager);
    /// The search field, the import progress line and the list or its empty state, one above the other.
    void buildListColumn();
    /// The detail pane, or nothing while the list is empty.
    void buildDetailColumn();
    void buildFirstLaunchArrow();
    void startImportTask(const QList<QUrl>& urls);
    struct Import;
    /// An import ended: the records the engine did not hand over file by file are added now.
    void handleImportResult(const std::shared_ptr<Import>& import, const CaptureService::Infos& infos);
    /// One more file of `import` is done (stored or left out).
    void importFileDone(const std::shared_ptr<Import>& import, int files = 1);
    void updateImportProgress();
    /// The store behind the window's lists.
    std::shared_ptr<ScreenshotsDB> libraryStore() const;
    /// Tells the user, once, what opening the library found wrong with its file.
    void showLibraryOpenProblem();
    /// Shows a repair of the library while it runs, and the lists and what was lost once it ended.
    void followLibraryRepairs();
    /// Recognises the texts still to come, once a repair under way has ended.
    void startRecognitionBacklog();
    /// Shows the list or the empty state, the detail pane or nothing, and the first-launch hint.
    void updateLayoutForState();
    void setSelection(const ScreenshotPtr& screenshot, int index);
    /// Puts the first-launch arrow under the "AI Assistant" button, wherever the toolbar has put it.
    void placeFirstLaunchArrow();
    /// Opens the alert that is due (the library's problem before the key alert) once the window is on
    /// screen, above it.
    void presentAlert();
    QMessageBox* alertToPresent() const;
    ColumnWidths fittedColumnMinimums() const;
    void applyColumnMinimums();

    Dependencies dependencies_;
    ScreenshotsListManager* screenshotsListManager_;
    LibrarySelection* selection_;
    QString searchText_;
    bool didTakeOrImportScreenshot_;
    int availableWidth_ = std::numeric_limits<int>::max();

    QToolBar* toolbar_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QSplitter* splitter_ = nullptr;
    FolderListView* sidebar_ = nullptr;
    QWidget* listColumn_ = nullptr;
    QStackedWidget* listStack_ = nullptr;
    QStackedWidget* detailStack_ = nullptr;
    ScreenshotListView* list_ = nullptr;
    ScreenshotDetailView* detail_ = nullptr;
    QLabel* emptyState_ = nullptr;
    QLabel* firstLaunchArrow_ = nullptr;
    QPointer<QWidget> aiAssistantButton_;
    QPointer<QMessageBox> alert_;
    ProblemBar* problemBar_ = nullptr;
    QPointer<QMessageBox> libraryProblemAlert_;
    bool libraryProblemShown_ = false;
    bool libraryProblemAnswered_ = false;
    /// The list of files last taken from the URL handler.
    QList<QUrl> takenUrls_;
    QLabel* importProgress_ = nullptr;
    QLabel* repairProgress_ = nullptr;
    /// The imports under way, until each has ended and all its rows are stored.
    QList<std::shared_ptr<Import>> imports_;
    QPointer<QMessageBox> skippedImportsAlert_;
    QList<SkippedImport> skippedImports_;
    /// Whether the view has come on screen in this launch: the key check runs on the first appearance only.
    bool appeared_ = false;
    /// The window whose appearance and activation the view follows, to keep an open alert above it.
    QPointer<QWidget> watchedWindow_;
    QPointer<QWindow> watchedHandle_;
};

} // namespace lumetrove
