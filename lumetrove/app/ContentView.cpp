#include "lumetrove/app/ContentView.h"

#include "lumetrove/app/AppState.h"
#include "lumetrove/app/AssistantActions.h"
#include "lumetrove/app/ProblemBar.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/browser/FolderListView.h"
#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/ScreenCapturePermissions.h"
#include "lumetrove/detail/ScreenshotDetailView.h"
#include "lumetrove/library/AssistantTask.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/library/TextRecognitionBacklog.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "lumetrove/platform/ScreenRecordingPermission.h"
#include "lumetrove/platform/UserDefaults.h"
#include "lumetrove/views/SettingsViewModel.h"
#include "settingsopener/OpenSettingsAction.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace lumetrove {

namespace {

const QString takeScreenshotName = QStringLiteral("takeScreenshot");
const QString deleteSelectedScreenshotName = QStringLiteral("deleteSelectedScreenshot");

// The shared capture engine and permission controller, as the root view asks for them.
class SharedCaptureService final : public CaptureService {
public:
    bool checkScreenCapturePermission() override
    {
        return ScreenCapturePermissions::shared().checkScreenCapturePermission();
    }

    /// Asked of the session, not told by whether another program's window title can be read: an X11
    /// session lets every client read the screen even on a desktop where no other window is open yet.
    bool screenRecordingGranted() override { return screenCaptureAccessGranted(); }

    void startAreaCapture(bool isAssistant, CaptureCompletion completion) override
    {
        ScreenshotCapture::shared().startAreaCapture(
            isAssistant, [completion = std::move(completion)](const Infos& infos, CaptureResult result) {
                return completion(infos, result);
            });
    }

    void performCaptureFromFileURLs(const QList<QUrl>& urls, Completion completion, SkippedImportsHandler skipped,
                                    ImportStepHandler step) override
    {
        ScreenshotCapture::shared().performCaptureFromFileURLs(
            urls,
            [completion = std::move(completion)](const Infos& infos, CaptureResult result) {
                completion(infos, result);
            },
            std::move(skipped), std::move(step));
    }
};

} // namespace

CaptureService& sharedCaptureService()
{
    static SharedCaptureService service;
    return service;
}

ContentView::ContentView(Dependencies dependencies, QWidget* parent)
    : QWidget(parent), dependencies_(std::move(dependencies)),
      screenshotsListManager_(dependencies_.makeScreenshotsListManager()), selection_(new LibrarySelection(this)),
      didTakeOrImportScreenshot_(dependencies_.didTakeOrImportScreenshot)
{
    screenshotsListManager_->setParent(this);
    if (dependencies_.urlHandler == nullptr) {
        dependencies_.urlHandler = &URLHandler::shared();
    }
    if (dependencies_.capture == nullptr) {
        dependencies_.capture = &sharedCaptureService();
    }
    selection_->setSection(dependencies_.folderSelection);
    setAcceptDrops(true);

    buildToolbar();
    buildLayout(dependencies_.foldersListManager);

    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(takeScreenshotName, this,
                       [this](const Notification& notification) { handleTakeScreenshotNotification(notification); });
    center.addObserver(deleteSelectedScreenshotName, this, [this](const Notification&) { deleteSelectedScreenshot(); });
    center.addObserver(libraryProblemNotification, this, [this](const Notification& notification) {
        problemBar_->addMessage(notification.userInfo.value(libraryProblemMessageKey).toString());
    });
    followLibraryRepairs();
    connect(&dependencies_.appState, &AppState::openSettingsSignal, this, &ContentView::openOpenAISettings);
    connect(screenshotsListManager_, &ScreenshotsListManager::screenshotsChanged, this, &ContentView::listPublished);
    connect(dependencies_.urlHandler, &URLHandler::urlsChanged, this,
            [this] { handleOpenedURLs(dependencies_.urlHandler->urls()); });
    connect(selection_, &LibrarySelection::sectionChanged, this, [this](const FolderSection& section) {
        if (detail_ != nullptr) {
            detail_->setFolderSelection(section);
        }
        updateLayoutForState();
    });
    // The pane learns of a new selection on the next turn of the event loop, after the operation that made
    // it has finished: a capture marks its new screenshot for AI processing right after selecting it.
    connect(
        selection_, &LibrarySelection::selectedScreenshotChanged, this,
        [this] {
            if (detail_ != nullptr) {
                detail_->setScreenshot(selection_->selectedScreenshot());
            }
        },
        Qt::QueuedConnection);

    selectFirstScreenshot();
    updateLayoutForState();

    startRecognitionBacklog();
}

ContentView::~ContentView() = default;

void ContentView::followLibraryRepairs()
{
    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(libraryRepairingNotification, this, [this](const Notification& notification) {
        const bool repairing = notification.userInfo.value(libraryRepairingKey).toBool();
        repairProgress_->setVisible(repairing);
        // What a repair of damage found on opening did is known now.
        if (!repairing && appeared_) {
            showLibraryOpenProblem();
        }
    });
    // Rows and folders that could not be read are gone, images found without a row are new: both lists again.
    center.addObserver(libraryRepairedNotification, this, [this](const Notification&) {
        dependencies_.foldersListManager.setFolders(dependencies_.foldersListManager.loadFolders());
        screenshotsListManager_->reload();
    });
}

void ContentView::startRecognitionBacklog()
{
    // Screenshots whose text never came (given back by the library's open, or captured by a run that ended
    // first) have it recognised now, in the background.
    auto* backlog = new TextRecognitionBacklog(*screenshotsListManager_, libraryStore(), nullptr, this);
    if (!libraryStore()->repairingInBackground()) {
        backlog->start();
        return;
    }
    // A repair under way gives back rows without their text: they are read once it has ended.
    auto waiting = std::make_shared<QMetaObject::Connection>();
    *waiting = NotificationCenter::defaultCenter().addObserver(
        libraryRepairingNotification, backlog, [backlog, waiting](const Notification& notification) {
            if (!notification.userInfo.value(libraryRepairingKey).toBool()) {
                QObject::disconnect(*waiting);
                backlog->start();
            }
        });
}

std::shared_ptr<ScreenshotsDB> ContentView::libraryStore() const
{
    return dependencies_.store;
}

ScreenshotPtr ContentView::selectedScreenshot() const
{
    return selection_->selectedScreenshot();
}

int ContentView::screenshotsSelectionIndex() const
{
    return selection_->selectionIndex();
}

FolderSection ContentView::folderSelection() const
{
    return selection_->section();
}

ScreenshotDetailView* ContentView::detailView() const
{
    return detailStack_->currentWidget() == detail_ ? detail_ : nullptr;
}

void ContentView::setSearchText(const QString& text)
{
    if (text == searchText_) {
        return;
    }
    searchText_ = text;
    if (searchField_->text() != text) {
        searchField_->setText(text);
    }
    applySearchFilter();
}

void ContentView::setSelection(const ScreenshotPtr& screenshot, int index)
{
    selection_->setSelectionIndex(index);
    selection_->setSelectedScreenshot(screenshot);
}

void ContentView::handleTakeScreenshotNotification(const Notification& notification)
{
    const bool shouldAIProcess = notification.boolValue(QStringLiteral("shouldAIProcess"));
    const bool aiAssistant = notification.boolValue(QStringLiteral("aiAssistant"));
    if ((shouldAIProcess || aiAssistant) && !checkOpenAIAPIKey()) {
        return;
    }
    if (!dependencies_.capture->checkScreenCapturePermission()) {
        return;
    }
    resetFiltersForNewScreenshot();
    didTakeOrImportScreenshot_ = true;
    updateLayoutForState();
    QPointer<ContentView> self(this);
    dependencies_.capture->startAreaCapture(aiAssistant,
                                            [self, shouldAIProcess](CaptureService::Infos infos, CaptureResult result) {
                                                return self ? self->handleCaptureResult(infos, result, shouldAIProcess)
                                                            : CaptureFollowUp::returnToPreviousWindow;
                                            });
}

bool ContentView::checkOpenAIAPIKey()
{
    const auto key = UserDefaults::string(QString::fromLatin1(UserDefaults::openAIAPIKey));
    if (key && !key->isEmpty()) {
        return true;
    }
    if (alert_ == nullptr) {
        alert_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Set OpenAI API Key"),
                                 QStringLiteral("Set OpenAI API Key"), QMessageBox::NoButton, this);
        alert_->setInformativeText(
            QStringLiteral("You need to provide an OpenAI API key to use the AI features of Lumetrove."));
        QPushButton* enterKey = alert_->addButton(QStringLiteral("Enter OpenAI API Key"), QMessageBox::AcceptRole);
        alert_->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        alert_->setWindowModality(Qt::WindowModal);
        alert_->setAttribute(Qt::WA_DeleteOnClose);
        connect(enterKey, &QPushButton::clicked, this, &ContentView::openOpenAISettingsAfterDelay);
        presentAlert();
    }
    return false;
}

void ContentView::resetFiltersForNewScreenshot()
{
    setSearchText(QString());
    const QString sectionId = selection_->section().id();
    const bool fixedSection = sectionId == QLatin1String("all") || sectionId == QLatin1String("today") ||
                              sectionId == QLatin1String("yesterday") || sectionId == QLatin1String("lastweek");
    if (fixedSection) {
        selection_->setSection(FolderSection::all());
        screenshotsListManager_->setTimePeriod(std::nullopt);
    }
    const FolderSection section = selection_->section();
    if (section.folder() && section.folder()->isSmartFolder) {
        selection_->setSection(FolderSection::all());
        screenshotsListManager_->setFolderFilter(std::nullopt);
    }
}

CaptureFollowUp ContentView::handleCaptureResult(const CaptureService::Infos& infos, CaptureResult result,
                                                 bool shouldAIProcess)
{
    const bool stored = result != CaptureResult::cancelled && addCapturedScreenshots(infos, false, shouldAIProcess);
    return stored ? CaptureFollowUp::showMainWindow : CaptureFollowUp::returnToPreviousWindow;
}

bool ContentView::addCapturedScreenshots(const CaptureService::Infos& infos, bool wasImported, bool shouldAIProcess)
{
    if (!infos) {
        return false;
    }
    // What an assistant's "Copy text" or "Web search" captured is acted on and kept nowhere, image included.
    const auto discardAll = [&] {
        for (const CapturedScreenshotInfo& info : *infos) {
            screenshotsListManager_->discardCapturedImage(info);
        }
    };
    const auto kept = std::make_shared<std::vector<qint64>>();
    for (const CapturedScreenshotInfo& info : *infos) {
        const AssistantTask task = info.windowDetails && info.windowDetails->aiAssistantTask
                                       ? assistantTaskForText(*info.windowDetails->aiAssistantTask)
                                       : AssistantTask::custom;
        if (actsOnTextOnly(task)) {
            if (task == AssistantTask::copyText) {
                copyRecognizedText(info.recognizedText);
            } else {
                searchRecognizedText(info.recognizedText);
            }
            discardAll();
            return false;
        }
        screenshotsListManager_->addScreenshot(info, wasImported, [kept](qint64 id) { kept->push_back(id); });
    }
    // The rows are written and the list made off this thread: the newest screenshot is selected once it is
    // there, unless the user chose another row meanwhile. Only a row just stored is given to the assistant: when
    // the library refused the capture, the newest row is an older screenshot.
    const ScreenshotPtr shown = selectedScreenshot();
    const std::optional<qint64> shownId = shown ? std::optional(shown->id()) : std::nullopt;
    screenshotsListManager_->whenListed(
        [self = QPointer<ContentView>(this), wasImported, shouldAIProcess, shownId, kept] {
            if (!self) {
                return;
            }
            const auto& screenshots = self->screenshotsListManager_->screenshots();
            if (screenshots.isEmpty()) {
                return;
            }
            const ScreenshotPtr newest = screenshots.first();
            const ScreenshotPtr chosen = self->selectedScreenshot();
            if (chosen && chosen->id() != shownId && chosen->id() != newest->id()) {
                return;
            }
            // Marked before it is selected, so that the detail pane starts the analysis as it shows it; a pane
            // that already shows it (the list selected it as it was published) is asked to start it here.
            const bool stored = !wasImported && std::ranges::find(*kept, screenshots.row(0).id) != kept->end();
            if (stored) {
                newest->setWaitingForAIProcess(shouldAIProcess);
            }
            self->setSelection(newest, 0);
            ScreenshotDetailView* detail = self->detailView();
            if (stored && newest->waitingForAIProcess() && detail && detail->screenshot() == newest) {
                detail->startAIProcessing();
            }
        });
    return true;
}

void ContentView::handleOpenedURLs(const QList<QUrl>& urls)
{
    // The clearing itself changes the list to empty: that change has nothing to import and nothing to clear.
    if (urls.isEmpty()) {
        return;
    }
    takenUrls_ = urls;
    dependencies_.urlHandler->clearURLs();
    startImportTask(urls);
}

void ContentView::startImportTask(const QList<QUrl>& urls)
{
    if (urls.isEmpty()) {
        return;
    }
    QTimer::singleShot(0, this, [this, urls] { importFiles(urls); });
}

void ContentView::showLibraryOpenProblem()
{
    const std::optional<LibraryOpenProblem>& problem = libraryStore()->openProblem();
    if (libraryProblemShown_ || !problem) {
        return;
    }
    libraryProblemShown_ = true;
    libraryProblemAlert_ =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("Library"), problem->title, QMessageBox::Ok, this);
    libraryProblemAlert_->setInformativeText(problem->details);
    libraryProblemAlert_->setWindowModality(Qt::WindowModal);
    libraryProblemAlert_->setAttribute(Qt::WA_DeleteOnClose);
    // The key alert, when it is due, waits for this one: one alert at a time over the window.
    connect(libraryProblemAlert_, &QDialog::finished, this, [this] {
        libraryProblemAnswered_ = true;
        QTimer::singleShot(0, this, &ContentView::presentAlert);
    });
    // Told after a repair that ended while the key alert is open, it waits for that one to be answered.
    if (alert_ != nullptr && alert_->isVisible()) {
        connect(alert_, &QDialog::finished, this, [this] { QTimer::singleShot(0, this, &ContentView::presentAlert); });
        return;
    }
    presentAlert();
}

void ContentView::handleAppear()
{
    showLibraryOpenProblem();
    if (dependencies_.capture->screenRecordingGranted()) {
        checkOpenAIAPIKey();
    }
    const QList<QUrl> urls = dependencies_.urlHandler->urls();
    // Files handed over just before the window came up were taken already by the change handler; their list
    // is only waiting to be cleared, and is not imported twice.
    if (!urls.isEmpty() && urls == takenUrls_) {
        return;
    }
    takenUrls_ = urls;
    dependencies_.urlHandler->clearURLs();
    startImportTask(urls);
}

/// An import under way: how many of its files are done, and the records handed to the list.
struct ContentView::Import {
    int files = 0;
    /// Files the engine told about (stored or left out).
    int told = 0;
    /// Files left out, or whose rows are in the library.
    int done = 0;
    bool ended = false;
    QSet<QString> added;
};

void ContentView::importFiles(const QList<QUrl>& urls)
{
    didTakeOrImportScreenshot_ = true;
    updateLayoutForState();
    auto import = std::make_shared<Import>();
    import->files = static_cast<int>(urls.size());
    imports_.append(import);
    updateImportProgress();
    // Each import runs to its end, beside captures and other imports: files handed over meanwhile (several
    // launches at once) are imported at once. Each row is added as its image is stored, written by the list's
    // writer thread, so the list fills while the import goes on and this thread is never held up by it.
    QPointer<ContentView> self(this);
    dependencies_.capture->performCaptureFromFileURLs(
        urls,
        [self, import](CaptureService::Infos infos, CaptureResult) {
            if (self) {
                self->handleImportResult(import, infos);
            }
        },
        [self](const QList<SkippedImport>& skipped) {
            if (self) {
                self->showSkippedImports(skipped);
            }
        },
        [self, import](const std::optional<CapturedScreenshotInfo>& stored) {
            if (!self) {
                return;
            }
            ++import->told;
            if (!stored) {
                self->importFileDone(import);
                return;
            }
            import->added.insert(stored->screenshotPath);
            self->screenshotsListManager_->addImportedScreenshots(
                {*stored},
                [self, import] {
                    if (self) {
                        self->importFileDone(import);
                    }
                },
                [self](const SkippedImport& notKept) {
                    if (self) {
                        self->showSkippedImports({notKept});
                    }
                });
        });
}

void ContentView::handleImportResult(const std::shared_ptr<Import>& import, const CaptureService::Infos& infos)
{
    QList<CapturedScreenshotInfo> rest;
    if (infos) {
        for (const CapturedScreenshotInfo& info : *infos) {
            if (!import->added.contains(info.screenshotPath)) {
                rest.append(info);
            }
        }
    }
    import->ended = true;
    // Whatever the engine did not tell file by file is done once the records it handed over now are stored.
    const int untold = std::max(import->files - import->told, 0);
    QPointer<ContentView> self(this);
    screenshotsListManager_->addImportedScreenshots(
        rest,
        [self, import, untold] {
            if (self) {
                self->importFileDone(import, untold);
            }
        },
        [self](const SkippedImport& notKept) {
            if (self) {
                self->showSkippedImports({notKept});
            }
        });
}

void ContentView::importFileDone(const std::shared_ptr<Import>& import, int files)
{
    import->done += files;
    if (!import->ended || import->done < import->files || !imports_.contains(import)) {
        updateImportProgress();
        return;
    }
    imports_.removeOne(import);
    updateImportProgress();
    resetFiltersForNewScreenshot();
    // The newest screenshot is selected once the list holds the last rows.
    screenshotsListManager_->whenListed([self = QPointer<ContentView>(this)] {
        if (self && !self->screenshotsListManager_->screenshots().isEmpty()) {
            self->setSelection(self->screenshotsListManager_->screenshots().first(), 0);
        }
    });
}

void ContentView::updateImportProgress()
{
    int done = 0;
    int files = 0;
    for (const std::shared_ptr<Import>& import : std::as_const(imports_)) {
        done += std::min(import->done, import->files);
        files += import->files;
    }
    importProgress_->setVisible(!imports_.isEmpty());
    importProgress_->setText(QStringLiteral("Importing %1 of %2").arg(done).arg(files));
}

void ContentView::showSkippedImports(const QList<SkippedImport>& skipped)
{
    if (skipped.isEmpty()) {
        return;
    }
    if (skippedImportsAlert_ == nullptr) {
        skippedImports_.clear();
        skippedImportsAlert_ =
            new QMessageBox(QMessageBox::Warning, QStringLiteral("Import"), QString(), QMessageBox::Ok, this);
        skippedImportsAlert_->setWindowModality(Qt::WindowModal);
        skippedImportsAlert_->setAttribute(Qt::WA_DeleteOnClose);
        skippedImportsAlert_->open();
    }
    skippedImports_ += skipped;
    // A long list is cut, so that the message stays on the screen.
    constexpr qsizetype shownFiles = 12;
    QStringList lines;
    for (qsizetype i = 0; i < skippedImports_.size() && i < shownFiles; ++i) {
        lines << QStringLiteral("%1: %2").arg(skippedImports_[i].fileName, skippedImports_[i].reason);
    }
    if (skippedImports_.size() > shownFiles) {
        lines << QStringLiteral("and %1 more").arg(skippedImports_.size() - shownFiles);
    }
    skippedImportsAlert_->setText(
        skippedImports_.size() == 1 ? QStringLiteral("\u201c%1\u201d was not imported").arg(skippedImports_[0].fileName)
                                    : QStringLiteral("%1 files were not imported").arg(skippedImports_.size()));
    skippedImportsAlert_->setInformativeText(lines.join(QLatin1Char('\n')));
}

void ContentView::deleteSelectedScreenshot()
{
    const auto& screenshots = screenshotsListManager_->screenshots();
    const ScreenshotPtr selected = selectedScreenshot();
    if (screenshots.isEmpty() || selected == nullptr) {
        return;
    }
    // Delete the screenshot the user sees selected, found by its id: a stale index never deletes another one.
    const std::optional<qsizetype> found = screenshots.indexOf(selected->id());
    if (!found) {
        return;
    }
    const qsizetype position = *found;
    screenshotsListManager_->deleteScreenshots({position});

    const auto& remaining = screenshotsListManager_->screenshots();
    const qsizetype previous = position - 1;
    if (previous < 0 || previous >= remaining.size()) {
        setSelection(remaining.isEmpty() ? nullptr : remaining.first(), 0);
    } else {
        setSelection(remaining[previous], static_cast<int>(previous));
    }
    // The listed ids changed, so the first screenshot ends up selected, as after any other such change.
    selectFirstScreenshot();
}

void ContentView::openOpenAISettings()
{
    if (dependencies_.settingsViewModel != nullptr) {
        dependencies_.settingsViewModel->setSelectedTab(Tab::openAIAPI);
    }
    try {
        settingsopener::openSettings(this).openSettings();
    } catch (...) {
        // Opening Settings reports nothing to the user when it fails; the window simply does not come up.
    }
}

void ContentView::openOpenAISettingsAfterDelay()
{
    QTimer::singleShot(500, this, &ContentView::openOpenAISettings);
}

void ContentView::listPublished(const ScreenshotList&, const ScreenshotListChange& change)
{
    // A list whose rows only show new values (a recognised text, an edit) is the same list: the selection and
    // the scroll position stay. New or removed rows, or rows moved to other folders, select the first row.
    if (!change.sameRecords) {
        selectFirstScreenshot();
    }
    updateLayoutForState();
}

void ContentView::selectFirstScreenshot()
{
    const auto& screenshots = screenshotsListManager_->screenshots();
    setSelection(screenshots.isEmpty() ? nullptr : screenshots.first(), 0);
}

void ContentView::applySearchFilter()
{
    screenshotsListManager_->setSearchFilter(searchText_);
}

void ContentView::focusMainViewSoon()
{
    QTimer::singleShot(0, this, [this] { sidebar_->setFocus(Qt::OtherFocusReason); });
}

QMessageBox* ContentView::alertToPresent() const
{
    // The library's problem comes first; the key alert waits until it is answered, unless it is open already.
    if (libraryProblemAlert_ != nullptr && !libraryProblemAnswered_ && (alert_ == nullptr || !alert_->isVisible())) {
        return libraryProblemAlert_;
    }
    return alert_;
}

void ContentView::presentAlert()
{
    QMessageBox* const alert = alertToPresent();
    if (alert == nullptr) {
        return;
    }
    // An alert mapped before the window it blocks may be stacked below that window once it maps: it opens
    // only when its window is on screen, and rises again whenever that window comes back or to the front.
    QWidget* host = window();
    if (host != watchedWindow_) {
        if (watchedWindow_ != nullptr) {
            watchedWindow_->removeEventFilter(this);
        }
        watchedWindow_ = host;
        host->installEventFilter(this);
    }
    // Exposure, the moment the window is really on screen, is told to its platform window only.
    if (host->windowHandle() != watchedHandle_) {
        if (watchedHandle_ != nullptr) {
            watchedHandle_->removeEventFilter(this);
        }
        watchedHandle_ = host->windowHandle();
        if (watchedHandle_ != nullptr) {
            watchedHandle_->installEventFilter(this);
        }
    }
    if (!host->isVisible() || host->windowHandle() == nullptr || !host->windowHandle()->isExposed()) {
        return;
    }
    if (!alert->isVisible()) {
        alert->open();
    }
    if (QWindow* handle = alert->windowHandle()) {
        handle->setTransientParent(host->windowHandle());
    }
    alert->raise();
    alert->activateWindow();
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Rows let go of while the window was closed to the tray are read again, newest first.
    screenshotsListManager_->reacquireRows();
    // The key check belongs to the window's first appearance in a launch: a capture hides and shows the window
    // again, and so does "View Screenshots". Files handed over later arrive through the handler's change.
    if (!appeared_) {
        appeared_ = true;
        handleAppear();
    }
}

bool ContentView::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == aiAssistantButton_ && (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show)) {
        if (firstLaunchArrow_->isVisible()) {
            placeFirstLaunchArrow();
        }
    } else if ((!alert_.isNull() || !libraryProblemAlert_.isNull()) && // no cast: it may be being destroyed
               ((watched == watchedHandle_ && type == QEvent::Expose) ||
                (watched == watchedWindow_ && (type == QEvent::Show || type == QEvent::WindowActivate)))) {
        // After the window's own show or activation has been handled.
        QTimer::singleShot(0, this, &ContentView::presentAlert);
    }
    return QWidget::eventFilter(watched, event);
}

void ContentView::dragEnterEvent(QDragEnterEvent* event)
{
    // Image files from the file manager are imported; screenshots dragged inside the window are not files.
    if (event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
}

void ContentView::dropEvent(QDropEvent* event)
{
    QList<QUrl> files;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            files << url;
        }
    }
    if (files.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    dependencies_.urlHandler->setUrls(files);
}

} // namespace lumetrove
