#include "lumetrove/detail/ScreenshotDetailView.h"

#include "lumetrove/ai/AIResultApplication.h"
#include "lumetrove/detail/AIAssistantResultsView.h"
#include "lumetrove/detail/CopyToClipboardButtonView.h"
#include "lumetrove/detail/DetailHeadingView.h"
#include "lumetrove/detail/LiveTextImageView.h"
#include "lumetrove/detail/ProcessButtonView.h"
#include "lumetrove/detail/ScreenshotNameView.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/UserDefaults.h"
#include "lumetrove/views/KeywordEditorView.h"
#include "lumetrove/views/SettingsViewModel.h"
#include "settingsopener/OpenSettingsAction.h"

#include <QEvent>
#include <QFrame>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <utility>

namespace lumetrove {

namespace {

constexpr double kDefaultImageZoom = 0.6;
constexpr double kMinimumImageZoom = 0.2;
constexpr double kMaximumImageZoom = 1.0;
constexpr int kSettingsDelayMilliseconds = 500;

/// The stored zoom, kept within the slider's range; the default when absent or not a number.
double storedImageZoom()
{
    bool ok = false;
    const double stored = UserDefaults::value(QString::fromLatin1(UserDefaults::imageZoom)).toDouble(&ok);
    if (!ok || !std::isfinite(stored)) {
        return kDefaultImageZoom;
    }
    return std::clamp(stored, kMinimumImageZoom, kMaximumImageZoom);
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

bool isPresentAndNotEmpty(const std::optional<QString>& text)
{
    return text && !text->isEmpty();
}

/// The threads that read the shown image: a selection never waits behind recognitions, analyses or store
/// reads queued on the shared pool. Two, so that a new selection need not wait for the read of one passed over.
QThreadPool& imageLoadPool()
{
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(2);
        return made;
    }();
    return *pool;
}

/// The most height the keywords ask of the window: about five lines of chips and the field. More chips than
/// that scroll, so that an answer with many keywords never makes the window taller than its screen.
constexpr int kKeywordsMinimumHeightBound = 200;

/// The keyword editor in a vertical scroll area that asks for all of the editor's height and insists on no
/// more than the bound: the splitter gives the chips their room while the pane has it, and they scroll once
/// it has not.
class KeywordScrollArea : public QScrollArea {
public:
    explicit KeywordScrollArea(QWidget* parent) : QScrollArea(parent)
    {
        setWidgetResizable(true);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setBackgroundRole(QPalette::Base);
    }

    void setContent(QWidget* content)
    {
        setWidget(content);
        content->installEventFilter(this);
    }

    QSize sizeHint() const override { return {QScrollArea::sizeHint().width(), contentHeight()}; }
    QSize minimumSizeHint() const override
    {
        return {QScrollArea::minimumSizeHint().width(), std::min(contentHeight(), kKeywordsMinimumHeightBound)};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The chips rewrapped or changed: the splitter asks again how much the keywords want.
        if (watched == widget() && event->type() == QEvent::LayoutRequest) {
            updateGeometry();
        }
        return QScrollArea::eventFilter(watched, event);
    }

private:
    int contentHeight() const
    {
        const QWidget* content = widget();
        return content ? content->minimumSizeHint().height() + 2 * frameWidth() : 0;
    }
};

/// The pane's sections in a vertical scroll area that asks for their width and the width of its scroll bar,
/// so that they never scroll sideways, and for little height: they scroll once the pane is shorter than
/// they need.
class SectionsScrollArea : public QScrollArea {
public:
    explicit SectionsScrollArea(QWidget* parent) : QScrollArea(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFocusPolicy(Qt::NoFocus); // Tab goes on to the controls, which it scrolls into view
    }

    QSize sizeHint() const override { return withScrollBar(widget() ? widget()->sizeHint() : QSize()); }
    QSize minimumSizeHint() const override
    {
        return {withScrollBar(widget() ? widget()->minimumSizeHint() : QSize()).width(),
                QScrollArea::minimumSizeHint().height()};
    }

private:
    QSize withScrollBar(QSize content) const
    {
        return {std::max(content.width(), 0) + verticalScrollBar()->sizeHint().width(), std::max(content.height(), 0)};
    }
};

} // namespace

ScreenshotDetailView::ScreenshotDetailView(Environment environment, QWidget* parent)
    : QWidget(parent), environment_(std::move(environment)), controller_(new AIProcessingController(this)),
      imageZoom_(storedImageZoom()), imageAreaSize_(0, 0), iconsToShowTick_(new IconsToShowTick(this))
{
    buildContent();
    connect(controller_, &AIProcessingController::processingChanged, processButton_, &ProcessButtonView::refresh);
    connect(controller_, &AIProcessingController::aiResultApplied, this, &ScreenshotDetailView::aiResultApplied);
    connect(controller_, &AIProcessingController::alertChanged, this, &ScreenshotDetailView::showAlert);
}

ScreenshotDetailView::~ScreenshotDetailView()
{
    // First, while the pane is whole: the records of unfinished analyses end their processing state.
    delete controller_;
}

void ScreenshotDetailView::buildContent()
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(buildProcessButtonArea());
    stack->addWidget(divider(this));
    stack->addLayout(buildNameRow());
    stack->addWidget(divider(this));
    // The image, the answer, the keywords and the summary each keep a least height; on a short screen they
    // want more together than the pane has, and then scroll within it rather than make the window taller
    // than its screen.
    auto* sections = new SectionsScrollArea(this);
    sections->setWidget(buildSections());
    stack->addWidget(sections, 1);
}

QWidget* ScreenshotDetailView::buildProcessButtonArea()
{
    // The button shows the shown screenshot's own analysis, not whichever request is in flight.
    processButton_ = new ProcessButtonView(
        *controller_->model(), [this] { return controller_->taskOf(screenshot_); }, [this] { startAIProcessing(); },
        this);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(processButton_);
    buttonRow->addStretch();
    auto* buttonArea = new QWidget(this);
    buttonArea->setFixedHeight(50);
    buttonArea->setLayout(buttonRow);
    return buttonArea;
}

QHBoxLayout* ScreenshotDetailView::buildNameRow()
{
    auto* nameRow = new QHBoxLayout;
    nameRow->setContentsMargins(0, 0, 20, 0);
    nameView_ = new ScreenshotNameView(this);
    nameRow->addWidget(nameView_, 1);
    zoomSlider_ = new QSlider(Qt::Horizontal, this);
    zoomSlider_->setRange(static_cast<int>(kMinimumImageZoom * 100), static_cast<int>(kMaximumImageZoom * 100));
    zoomSlider_->setValue(static_cast<int>(std::lround(imageZoom_ * 100)));
    zoomSlider_->setFixedWidth(100);
    zoomSlider_->setAttribute(Qt::WA_MacSmallSize);
    zoomSlider_->setAccessibleName(QStringLiteral("Image Zoom"));
    connect(zoomSlider_, &QSlider::valueChanged, this, [this](int value) { setImageZoom(value / 100.0); });
    nameRow->addWidget(zoomSlider_, 0, Qt::AlignVCenter);
    return nameRow;
}

QSplitter* ScreenshotDetailView::buildSections()
{
    split_ = new QSplitter(Qt::Vertical, this);
    split_->setChildrenCollapsible(false);

    imageArea_ = new QWidget(split_);
    auto* imageLayout = new QVBoxLayout(imageArea_);
    imageLayout->setContentsMargins(0, 0, 0, 0);
    imageView_ = new LiveTextImageView(environment_.textRecognizer, imageArea_);
    imageLayout->addWidget(imageView_);
    // Where the image would be when its file gives none: a row whose file went away outside the program is
    // kept, and says so rather than showing an empty pane.
    imageProblem_ = new QLabel(imageArea_);
    imageProblem_->setAlignment(Qt::AlignCenter);
    imageProblem_->setWordWrap(true);
    imageProblem_->setMargin(20);
    imageProblem_->setAccessibleName(QStringLiteral("Image Problem"));
    imageProblem_->hide();
    imageLayout->addWidget(imageProblem_);
    imageView_->installEventFilter(this);
    imageArea_->hide();

    assistantResults_ = new AIAssistantResultsView(nullptr, iconsToShowTick_, split_);
    assistantResults_->hide();

    keywordSection_ = buildKeywordSection();

    descriptionView_ = new ScreenshotDescriptionView(nullptr, iconsToShowTick_, split_);
    descriptionView_->hide();

    split_->addWidget(imageArea_);
    split_->addWidget(assistantResults_);
    split_->addWidget(keywordSection_);
    split_->addWidget(descriptionView_);
    split_->setStretchFactor(0, 1);
    return split_;
}

QWidget* ScreenshotDetailView::buildKeywordSection()
{
    auto* section = new QWidget(split_);
    section->setBackgroundRole(QPalette::Base);
    section->setAutoFillBackground(true);
    auto* keywordLayout = new QVBoxLayout(section);
    keywordLayout->setContentsMargins(0, 0, 0, 0);
    keywordLayout->setSpacing(0);
    keywordLayout->addWidget(new DetailHeadingView(QStringLiteral("Keywords"), section));
    auto* scroller = new KeywordScrollArea(section);
    keywordEditor_ = new KeywordEditorView(QString(), QString(), {}, keywords_, false, scroller);
    scroller->setContent(keywordEditor_);
    keywordLayout->addWidget(scroller, 1);
    connect(keywordEditor_, &KeywordEditorView::keywordsStringChanged, this, &ScreenshotDetailView::setKeywords);
    return section;
}

// The root view's interface ---------------------------------------------------------------------------------

void ScreenshotDetailView::setScreenshot(ScreenshotPtr screenshot)
{
    if (screenshot == screenshot_) {
        return;
    }
    screenshot_ = std::move(screenshot);
    if (screenshot_) {
        screenshot_->loadDetails(); // the assistant's answer and the AI history
    }
    nameView_->setScreenshot(screenshot_);
    assistantResults_->setScreenshot(screenshot_);
    descriptionView_->setScreenshot(screenshot_);
    disconnect(descriptionConnection_);
    disconnect(assistantConnection_);
    disconnect(saveFailedConnection_);
    if (screenshot_) {
        saveFailedConnection_ =
            connect(screenshot_.get(), &Screenshot::saveFailed, this, &ScreenshotDetailView::showStoredValues);
        descriptionConnection_ =
            connect(screenshot_.get(), &Screenshot::descriptionChanged, this, &ScreenshotDetailView::refreshSections);
        assistantConnection_ = connect(screenshot_.get(), &Screenshot::aiAssistantResultsChanged, this,
                                       &ScreenshotDetailView::refreshSections);
    }
    refreshSections();

    loadImage();
    // An analysis of the screenshot shown before goes on: its answer, paid for, is that screenshot's.
    if (screenshot_ && screenshot_->waitingForAIProcess()) {
        startAIProcessing();
    }
    setKeywords(screenshot_ ? screenshot_->keywords().value_or(QString()) : QString());
    nameView_->setScreenshotName(screenshot_ ? screenshot_->name().value_or(QString()) : QString());
    processButton_->refresh();
}

void ScreenshotDetailView::setFolderSelection(const FolderSection& section)
{
    if (folderSelection_ && *folderSelection_ == section) {
        return;
    }
    const bool first = !folderSelection_;
    folderSelection_ = section;
    if (first) {
        return;
    }
    nameView_->setScreenshotName(screenshot_ ? screenshot_->name().value_or(QString()) : QString());
}

void ScreenshotDetailView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (appeared_) {
        if (imageReleased_) {
            loadImage();
        }
        return;
    }
    appeared_ = true;
    if (!screenshot_) {
        return;
    }
    if (!imageCurrent_ && *imageTicket_ == 0) {
        loadImage();
    }
    if (screenshot_->waitingForAIProcess()) {
        // After the current update, as a change of the shown screenshot would.
        QTimer::singleShot(0, this, [this, shown = screenshot_] {
            if (screenshot_ == shown && shown->waitingForAIProcess()) {
                startAIProcessing();
            }
        });
    }
}

void ScreenshotDetailView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // A full-screen image is tens of megabytes; an analysis reads its own.
    if (!imageCurrent_ || image_.isNull()) {
        return;
    }
    image_ = QImage();
    imageCurrent_ = false;
    imageReleased_ = true;
    imageView_->releaseImage();
}

// Image --------------------------------------------------------------------------------------------------

bool ScreenshotDetailView::isImageCurrent() const
{
    return imageCurrent_;
}

void ScreenshotDetailView::loadImage()
{
    const quint64 ticket = ++*imageTicket_;
    imageCurrent_ = false;
    if (imageNotWanted() && screenshot_ && screenshot_->imageUrl()) {
        // Out of sight: read when the pane is shown.
        if (imageScreenshot_ != screenshot_) {
            image_ = QImage();
            imageView_->setImage(image_);
        }
        imageReleased_ = true;
        return;
    }
    const bool restoring = std::exchange(imageReleased_, false) && imageScreenshot_ == screenshot_;
    if (imageScreenshot_ != screenshot_) {
        imageView_->cancelLiveText(); // the words of a screenshot no longer selected would only slow the load
    }
    if (!screenshot_) {
        imageLoaded(ticket, {}, false);
        return;
    }
    auto* watcher = new QFutureWatcher<ScreenshotImage>(this);
    connect(watcher, &QFutureWatcher<ScreenshotImage>::finished, this, [this, watcher, ticket, restoring] {
        watcher->deleteLater();
        imageLoaded(ticket, watcher->result(), restoring);
    });
    const std::optional<QUrl>& url = screenshot_->imageUrl();
    watcher->setFuture(QtConcurrent::run(&imageLoadPool(),
                                         [path = url ? url->toLocalFile() : QString(), latest = imageTicket_, ticket] {
                                             // Another selection came while this waited for a thread: its result would
                                             // be dropped anyway.
                                             return *latest == ticket ? readScreenshotImage(path) : ScreenshotImage();
                                         }));
}

void ScreenshotDetailView::imageLoaded(quint64 ticket, const ScreenshotImage& read, bool restoring)
{
    const QImage& image = read.image;
    // A load for a screenshot no longer shown is dropped; a file that does not load clears the image, so
    // that nothing of the previous screenshot stays on screen or goes into an analysis.
    if (ticket != *imageTicket_) {
        return;
    }
    if (imageNotWanted() && !image.isNull()) {
        // Hidden while it was read: read again when shown.
        if (!restoring) {
            imageView_->setImage(QImage());
        }
        imageScreenshot_ = screenshot_;
        image_ = QImage();
        imageReleased_ = true;
        return;
    }
    image_ = image;
    imageScreenshot_ = screenshot_;
    imageCurrent_ = true;
    if (restoring && !image_.isNull()) {
        imageView_->restoreImage(image_);
    } else {
        imageView_->setImage(image_);
    }
    imageProblem_->setText(image_.isNull() ? read.problem : QString());
    imageProblem_->setVisible(!imageProblem_->text().isEmpty());
    imageView_->setVisible(!image_.isNull());
    imageArea_->setVisible(!image_.isNull() || imageProblem_->isVisibleTo(imageArea_));
    updateZoom();
    emit imageShown();
}

void ScreenshotDetailView::setImageZoom(double imageZoom)
{
    imageZoom = std::clamp(imageZoom, kMinimumImageZoom, kMaximumImageZoom);
    if (imageZoom == imageZoom_) {
        return;
    }
    imageZoom_ = imageZoom;
    UserDefaults::setValue(QString::fromLatin1(UserDefaults::imageZoom), imageZoom_);
    const int position = static_cast<int>(std::lround(imageZoom_ * 100));
    if (zoomSlider_->value() != position) {
        zoomSlider_->setValue(position);
    }
    updateZoom();
}

double ScreenshotDetailView::effectiveImageZoom() const
{
    const bool larger =
        !image_.isNull() && (image_.width() > imageAreaSize_.width() || image_.height() > imageAreaSize_.height());
    return larger ? imageZoom_ : 1.0;
}

void ScreenshotDetailView::updateZoom()
{
    const bool larger =
        !image_.isNull() && (image_.width() > imageAreaSize_.width() || image_.height() > imageAreaSize_.height());
    zoomSlider_->setEnabled(larger);
    imageView_->setImageZoom(effectiveImageZoom());
}

bool ScreenshotDetailView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == imageView_ && event->type() == QEvent::Resize) {
        imageAreaSize_ = imageView_->size();
        updateZoom();
    } else if (watched == alertHost_ && event->type() == QEvent::Show) {
        alertHost_->removeEventFilter(this);
        alertHost_ = nullptr;
        // After the window itself is mapped, so that its alert lies above it.
        QTimer::singleShot(0, this, &ScreenshotDetailView::openAlertOnScreen);
    }
    return QWidget::eventFilter(watched, event);
}

// Keywords and sections ------------------------------------------------------------------------------------

void ScreenshotDetailView::setKeywords(const QString& keywords)
{
    if (keywords == keywords_) {
        return;
    }
    keywords_ = keywords;
    keywordEditor_->setKeywordsString(keywords_);
    keywordWriteBack();
}

void ScreenshotDetailView::showStoredValues()
{
    if (!screenshot_) {
        return;
    }
    // Both are the record's values already: the write-backs find nothing to save.
    setKeywords(screenshot_->keywords().value_or(QString()));
    nameView_->setScreenshotName(screenshot_->name().value_or(QString()));
}

QString ScreenshotDetailView::screenshotName() const
{
    return nameView_->screenshotName();
}

void ScreenshotDetailView::keywordWriteBack()
{
    if (isSettingKeywordsViaAIResult_) {
        isSettingKeywordsViaAIResult_ = false;
        return;
    }
    if (screenshot_) {
        screenshot_->setKeywords(keywords_);
    }
}

void ScreenshotDetailView::refreshSections()
{
    assistantResults_->setVisible(screenshot_ && isPresentAndNotEmpty(screenshot_->aiAssistantResults()));
    descriptionView_->setVisible(screenshot_ && isPresentAndNotEmpty(screenshot_->description()));
}

// The AI road ---------------------------------------------------------------------------------------------

void ScreenshotDetailView::startAIProcessing()
{
    const bool shown = screenshot_ && imageCurrent_ && imageScreenshot_ == screenshot_;
    controller_->startAIProcessing(screenshot_, shown ? image_ : QImage());
}

void ScreenshotDetailView::aiResultApplied(const ScreenshotPtr& screenshot, const ScreenshotInfoResult& result,
                                           bool kept)
{
    if (screenshot != screenshot_) {
        return;
    }
    if (!kept) {
        showStoredValues(); // an answer the library did not keep is not shown as if it were
        return;
    }
    // The view shows the answer too; its keywords are already stored, so the write-back skips this one change —
    // and only when there is a change, so that the user's next edit is never swallowed.
    const QString keywords = appliedAIKeywords(result);
    if (keywords != keywords_) {
        isSettingKeywordsViaAIResult_ = true;
        setKeywords(keywords);
    }
    nameView_->setScreenshotName(appliedAIName(result));
}

// Alerts -------------------------------------------------------------------------------------------------

void ScreenshotDetailView::showAlert()
{
    if (alert_) {
        // Replaced or put down: closing it is no answer of the user's.
        QMessageBox* shown = alert_;
        alert_ = nullptr;
        shown->disconnect(this);
        shown->close();
    }
    QMessageBox* box = controller_->showingAlert()                 ? makeAIErrorAlert()
                       : controller_->showEnterOpenAIAPIKeyAlert() ? makeAPIKeyAlert()
                                                                   : nullptr;
    if (!box) {
        return;
    }
    alert_ = box;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    // Any answer (a button, Escape) puts the alert down.
    connect(box, &QDialog::finished, this, [this, box] {
        if (alert_ == box) {
            alert_ = nullptr;
            controller_->setShowingAlert(false);
            controller_->setShowEnterOpenAIAPIKeyAlert(false);
        }
    });
    openAlertOnScreen();
}

void ScreenshotDetailView::openAlertOnScreen()
{
    if (!alert_ || alert_->isVisible()) {
        return;
    }
    // An answer that arrives while the window is out of sight (hidden for a capture, or closed to the tray)
    // would put its alert up on its own: under a capture's overlays it takes the keyboard from them, so the
    // user's Escape closes the unseen alert and no longer ends the capture. It opens when the window is back.
    QWidget* host = window();
    if (!host->isVisible()) {
        if (alertHost_ != host) {
            if (alertHost_) {
                alertHost_->removeEventFilter(this);
            }
            alertHost_ = host;
            host->installEventFilter(this);
        }
        return;
    }
    alert_->open();
    // Where no window manager hands the keyboard to a new window, the alert takes it itself, as the main
    // window's own alerts do, so that Return and Escape answer it instead of going to the window it blocks.
    if (QWindow* handle = alert_->windowHandle()) {
        handle->setTransientParent(host->windowHandle());
    }
    alert_->raise();
    alert_->activateWindow();
}

QMessageBox* ScreenshotDetailView::makeAPIKeyAlert()
{
    auto* box = new QMessageBox(this);
    box->setWindowTitle(QStringLiteral("Set OpenAI API Key"));
    box->setText(QStringLiteral("Set OpenAI API Key"));
    box->setInformativeText(
        QStringLiteral("You need to provide an OpenAI API key to use the AI features of Lumetrove."));
    QPushButton* enter = box->addButton(QStringLiteral("Enter OpenAI API Key"), QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    connect(enter, &QPushButton::clicked, this, [this] {
        QTimer::singleShot(kSettingsDelayMilliseconds, this, [this] {
            if (environment_.settingsViewModel) {
                environment_.settingsViewModel->setSelectedTab(Tab::openAIAPI);
            }
            try {
                (environment_.openSettings ? *environment_.openSettings : settingsopener::openSettings(this))
                    .openSettings();
            } catch (...) {
                // Opening Settings is a convenience here; the user can still open it from the menu.
            }
        });
    });
    return box;
}

QMessageBox* ScreenshotDetailView::makeAIErrorAlert()
{
    auto* box = new QMessageBox(this);
    box->setWindowTitle(QStringLiteral("AI Error"));
    box->setText(QStringLiteral("AI Error"));
    box->setInformativeText(controller_->alertMessage());
    if (controller_->alertOffersRetry()) {
        QPushButton* retry = box->addButton(QStringLiteral("Retry"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        // The failed screenshot's analysis, also when another one is shown by now.
        connect(retry, &QPushButton::clicked, controller_, &AIProcessingController::retry);
    } else {
        box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    }
    return box;
}

} // namespace lumetrove
