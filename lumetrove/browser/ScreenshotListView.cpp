#include "lumetrove/browser/ScreenshotListView.h"

#include "lumetrove/browser/DragManager.h"
#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/browser/ScreenshotListModel.h"
#include "lumetrove/browser/ScreenshotPreviewWindow.h"
#include "lumetrove/browser/ScreenshotRowDelegate.h"
#include "lumetrove/browser/ThumbnailCache.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/FileManager.h"
#include "lumetrove/platform/NotificationCenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextEdit>

namespace lumetrove {

namespace {

constexpr int pulseIntervalMs = 33;
/// The bars fade from 0.4 to 0.2 and back, linearly, half a second each way.
constexpr int pulseHalfPeriodMs = 500;
constexpr double maxLoadingBarsOpacity = 0.4;
constexpr double minLoadingBarsOpacity = 0.2;

double loadingBarsOpacityAt(qint64 elapsedMs)
{
    const qint64 phase = elapsedMs % (2 * pulseHalfPeriodMs);
    const double fraction = phase < pulseHalfPeriodMs ? double(phase) / pulseHalfPeriodMs
                                                      : double(2 * pulseHalfPeriodMs - phase) / pulseHalfPeriodMs;
    return maxLoadingBarsOpacity - (maxLoadingBarsOpacity - minLoadingBarsOpacity) * fraction;
}

/// Whether Up and Down move a text cursor from line to line in `widget`: a multi-line text field that takes
/// typing or keyboard selection. Single-line fields have no lines to move through and leave them to the list.
bool movesThroughLines(const QWidget* widget)
{
    constexpr Qt::TextInteractionFlags keyboard = Qt::TextEditable | Qt::TextSelectableByKeyboard;
    if (const auto* edit = qobject_cast<const QTextEdit*>(widget)) {
        return (edit->textInteractionFlags() & keyboard) != 0;
    }
    if (const auto* edit = qobject_cast<const QPlainTextEdit*>(widget)) {
        return (edit->textInteractionFlags() & keyboard) != 0;
    }
    return false;
}

} // namespace

ScreenshotListView::ScreenshotListView(ScreenshotsListManager& manager, LibrarySelection& selection, QWidget* parent)
    : UniformRowListView(parent), manager_(manager), selection_(selection),
      model_(new ScreenshotListModel(manager, this)), thumbnails_(new ThumbnailCache(this)),
      delegate_(new ScreenshotRowDelegate(selection, *thumbnails_, this))
{
    setAccessibleName(tr("Screenshots"));
    if (const ScreenshotPtr& selected = selection.selectedScreenshot()) {
        paintedSelection_ = selected->id();
    }
    setModel(model_);
    setItemDelegate(delegate_);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setMouseTracking(false);
    setFrameShape(QFrame::NoFrame);
    // Reached by Tab as well as by a click, as every list of the desktop is.
    setFocusPolicy(Qt::StrongFocus);
    setViewportMargins(0, 15, 0, 15);

    followRowPainting();
    followListAndSelection();

    auto* quickLook = new QShortcut(QKeySequence(Qt::Key_Space), this);
    quickLook->setContext(Qt::WindowShortcut);
    connect(quickLook, &QShortcut::activated, this, &ScreenshotListView::showQuickLook);
}

void ScreenshotListView::followRowPainting()
{
    connect(thumbnails_, &ThumbnailCache::thumbnailLoaded, this, &ScreenshotListView::repaintRowOf);
    connect(delegate_, &ScreenshotRowDelegate::appIconResolved, viewport(), qOverload<>(&QWidget::update));
    connect(delegate_, &ScreenshotRowDelegate::processingRowPainted, this, [this] {
        processingRowSeen_ = true;
        if (!pulseTimer_.isActive()) {
            pulseClock_.start();
            pulseTimer_.start();
        }
    });
    pulseTimer_.setInterval(pulseIntervalMs);
    connect(&pulseTimer_, &QTimer::timeout, this, &ScreenshotListView::pulseLoadingBars);
}

void ScreenshotListView::followListAndSelection()
{
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        thumbnails_->revalidate();
        scrollToSelection();
    });
    connect(model_, &ScreenshotListModel::followed, this, &ScreenshotListView::followSelectedRow);
    connect(&manager_, &ScreenshotsListManager::thumbnailsChanged, this, [this] {
        thumbnails_->revalidate();
        viewport()->update();
    });
    connect(&manager_, &ScreenshotsListManager::thumbnailWritten, this, [this](qint64 id) {
        thumbnails_->revalidate(id);
        repaintRowOf(id);
    });
    // The rows that lose and take the selection colour repaint, not the list.
    connect(&selection_, &LibrarySelection::selectedScreenshotChanged, this, [this](const ScreenshotPtr& selected) {
        if (paintedSelection_) {
            repaintRowOf(*paintedSelection_);
        }
        paintedSelection_ = selected ? std::optional<qint64>(selected->id()) : std::nullopt;
        if (paintedSelection_) {
            repaintRowOf(*paintedSelection_);
        }
    });
    connect(&selection_, &LibrarySelection::selectionIndexChanged, this, [this](int index) {
        scrollToSelection();
        followSelectionInPreview(index);
    });
    // The filter subjects are followed for the list's whole life; showing the list replays them (below).
    connect(&manager_, &ScreenshotsListManager::folderFilterSubjectChanged, this, &ScreenshotListView::resetSelection);
    connect(&manager_, &ScreenshotsListManager::timePeriodSubjectChanged, this, &ScreenshotListView::resetSelection);
}

ScreenshotListView::~ScreenshotListView()
{
    removeKeyMonitor();
    // The preview is a window of its own whose parent is the main window, which may go first.
    delete preview_.data();
}

void ScreenshotListView::showEvent(QShowEvent* event)
{
    UniformRowListView::showEvent(event);
    installKeyMonitor();
}

void ScreenshotListView::hideEvent(QHideEvent* event)
{
    removeKeyMonitor();
    // Off the screen (the window closed to the tray) the decoded thumbnails are given back; coming back
    // reads those of the rows in view again.
    if (!event->spontaneous()) {
        thumbnails_->clear();
    }
    UniformRowListView::hideEvent(event);
}

void ScreenshotListView::installKeyMonitor()
{
    // Both filter subjects hand their current value to a new subscriber: coming on screen selects the
    // first screenshot of the list as it is now.
    resetSelection();
    resetSelection();
    if (!keyMonitorInstalled_) {
        qApp->installEventFilter(this);
        keyMonitorInstalled_ = true;
    }
    scrollToSelection();
}

void ScreenshotListView::removeKeyMonitor()
{
    if (keyMonitorInstalled_) {
        qApp->removeEventFilter(this);
        keyMonitorInstalled_ = false;
    }
}

bool ScreenshotListView::eventFilter(QObject* watched, QEvent* event)
{
    // Space presses the button that has the keyboard, as on every desktop: the preview's Space is the window's
    // only where no button claims the key.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto* button = qobject_cast<QAbstractButton*>(watched);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && button != nullptr &&
            button->hasFocus() && button->isEnabled() && button->window() == window()) {
            event->accept();
            return true;
        }
    }
    // The first delivery of a key press (to its window, or straight to a widget) is the one consumed, so a
    // press moves the selection once, whichever control has the focus.
    // An open menu keeps its own arrow keys.
    // A multi-line text field keeps its own Up and Down, which move its cursor from line to line.
    if (event->type() == QEvent::KeyPress && QApplication::activePopupWidget() == nullptr &&
        !movesThroughLines(watched->isWidgetType() ? static_cast<QWidget*>(watched) : QApplication::focusWidget())) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) && handleKeyDown(key->key())) {
            return true;
        }
    }
    return UniformRowListView::eventFilter(watched, event);
}

bool ScreenshotListView::handleKeyDown(int key)
{
    const auto count = static_cast<int>(model_->screenshots().size());
    const int index = selection_.selectionIndex();
    int target = -1;
    if (key == Qt::Key_Down) {
        target = index + 1;
    } else if (key == Qt::Key_Up) {
        // An index left beyond the end by a shrunken list comes back to the last row.
        target = std::min(index, count) - 1;
    } else {
        return false;
    }
    if (target >= 0 && target < count) {
        scrollTriggeredByKeyboard_ = true;
        selection_.setSelectionIndex(target);
        selection_.setSelectedScreenshot(model_->screenshotAt(target));
        scrollToSelection();
    }
    return true;
}

void ScreenshotListView::resetSelection()
{
    selection_.setSelectionIndex(0);
    selection_.setSelectedScreenshot(nullptr);
    setQuickLookPreviewUrl(std::nullopt);
    if (!model_->screenshots().isEmpty()) {
        selection_.setSelectedScreenshot(model_->screenshots().first());
    }
}

void ScreenshotListView::scrollToSelection()
{
    const int index = selection_.selectionIndex();
    if (model_->screenshots().isEmpty()) {
        return;
    }
    if (!scrollTriggeredByKeyboard_ && index != 0) {
        return;
    }
    if (index < 0 || index >= model_->rowCount()) {
        return;
    }
    scrollTo(model_->index(index), QAbstractItemView::PositionAtCenter);
    scrollTriggeredByKeyboard_ = false;
}

void ScreenshotListView::followSelectedRow()
{
    // Rows came or went above: the selected row keeps its screenshot (the rows on screen stay where they were
    // by themselves).
    if (const ScreenshotPtr& selected = selection_.selectedScreenshot()) {
        if (const std::optional<qsizetype> position = model_->screenshots().indexOf(selected->id())) {
            selection_.setSelectionIndex(static_cast<int>(*position));
        }
    }
}

void ScreenshotListView::repaintRowOf(qint64 id)
{
    if (const std::optional<qsizetype> position = model_->screenshots().indexOf(id)) {
        const QRect row = visualRect(model_->index(static_cast<int>(*position)));
        if (row.intersects(viewport()->rect())) {
            viewport()->update(row);
        }
    }
}

void ScreenshotListView::followSelectionInPreview(int index)
{
    if (!quickLookPreviewUrl_) {
        return;
    }
    const ScreenshotPtr screenshot = model_->screenshotAt(index);
    if (screenshot == nullptr) {
        return;
    }
    setQuickLookPreviewUrl(screenshot->imageUrl());
}

void ScreenshotListView::showQuickLook()
{
    const ScreenshotPtr screenshot = model_->screenshotAt(selection_.selectionIndex());
    if (screenshot == nullptr) {
        return;
    }
    setQuickLookPreviewUrl(screenshot->imageUrl());
}

void ScreenshotListView::setQuickLookPreviewUrl(std::optional<QUrl> url)
{
    quickLookPreviewUrl_ = std::move(url);
    if (!quickLookPreviewUrl_) {
        if (preview_ != nullptr) {
            preview_->setUrl(std::nullopt);
        }
        return;
    }
    if (preview_ == nullptr) {
        preview_ = new ScreenshotPreviewWindow(window());
        connect(preview_, &ScreenshotPreviewWindow::closedByUser, this, [this] { quickLookPreviewUrl_.reset(); });
    }
    preview_->setUrl(quickLookPreviewUrl_);
}

void ScreenshotListView::selectScreenshot(const ScreenshotPtr& screenshot)
{
    selection_.setSelectedScreenshot(screenshot);
    if (const std::optional<qsizetype> position = manager_.screenshots().indexOf(screenshot->id())) {
        selection_.setSelectionIndex(static_cast<int>(*position));
    }
}

ScreenshotPtr ScreenshotListView::screenshotAt(const QPoint& point) const
{
    const QModelIndex index = indexAt(point);
    if (!index.isValid() || !screenshotRowGeometry(visualRect(index)).mouseSurface.contains(point)) {
        return nullptr;
    }
    return model_->screenshotAt(index.row());
}

void ScreenshotListView::mousePressEvent(QMouseEvent* event)
{
    // Row clicks are handled here alone: the base class would keep a selection of its own.
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const ScreenshotPtr screenshot = screenshotAt(event->position().toPoint());
    if (screenshot == nullptr) {
        return;
    }
    pressPoint_ = event->position().toPoint();
    pressedScreenshot_ = screenshot;
    selectScreenshot(screenshot);
    setFocus(Qt::MouseFocusReason);
}

void ScreenshotListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second click opens the file and leaves the selection and the press point as the first made them.
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const ScreenshotPtr screenshot = screenshotAt(event->position().toPoint());
    if (screenshot != nullptr && screenshot->imageUrl()) {
        QDesktopServices::openUrl(*screenshot->imageUrl());
    }
}

void ScreenshotListView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !pressPoint_ || pressedScreenshot_ == nullptr) {
        return;
    }
    if (!screenshotDragDistanceReached(*pressPoint_, event->position())) {
        return;
    }
    // One press begins at most one drag.
    const ScreenshotPtr screenshot = std::exchange(pressedScreenshot_, nullptr);
    DragManager::shared().beginDrag(viewport(), screenshot, thumbnails_->thumbnail(screenshot->id()));
}

void ScreenshotListView::mouseReleaseEvent(QMouseEvent*)
{
    pressedScreenshot_.reset();
}

void ScreenshotListView::contextMenuEvent(QContextMenuEvent* event)
{
    const ScreenshotPtr screenshot = event->reason() == QContextMenuEvent::Mouse
                                         ? screenshotAt(event->pos())
                                         : model_->screenshotAt(selection_.selectionIndex());
    if (screenshot == nullptr) {
        return;
    }
    // The row is selected before the menu opens, so "Delete" deletes the screenshot it was opened on.
    selectScreenshot(screenshot);
    showContextMenu(screenshot, event->globalPos());
}

void ScreenshotListView::showContextMenu(const ScreenshotPtr& screenshot, const QPoint& globalPosition)
{
    delete contextMenu_;
    contextMenu_ = new QMenu(this);
    contextMenu_->addAction(tr("Delete"), this, [] {
        // The root view deletes the selected screenshot, which the right click has just made this one.
        NotificationCenter::defaultCenter().post(QStringLiteral("deleteSelectedScreenshot"));
    });
    contextMenu_->addAction(tr("Show in Folder"), this, [screenshot] {
        if (screenshot->imageUrl()) {
            revealFileInFolder(*screenshot->imageUrl());
        }
    });
    contextMenu_->popup(globalPosition);
}

void ScreenshotListView::pulseLoadingBars()
{
    if (!processingRowSeen_) {
        pulseTimer_.stop();
        delegate_->setLoadingBarsOpacity(maxLoadingBarsOpacity);
        return;
    }
    processingRowSeen_ = false;
    delegate_->setLoadingBarsOpacity(loadingBarsOpacityAt(pulseClock_.elapsed()));
    // Only the rows with bars paint again, thirty times a second.
    const auto [first, last] = rowsOnScreen();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model_->index(row);
        if (index.data(ScreenshotListModel::ProcessingRole).toBool()) {
            viewport()->update(visualRect(index));
        }
    }
}

} // namespace lumetrove
