#pragma once

#include "lumetrove/browser/ScreenshotPreviewWindow.h"
#include "lumetrove/browser/UniformRowListView.h"
#include "lumetrove/library/Screenshot.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <optional>

class QMenu;

namespace lumetrove {

class LibrarySelection;
class ScreenshotListModel;
class ScreenshotRowDelegate;
class ScreenshotsListManager;
class ThumbnailCache;

/// The middle column of the main window: one painted row per screenshot of the list manager, newest first.
/// The selection belongs to the root view's `LibrarySelection`, which the list and its rows write.
///
/// - Up and Down move the selection from anywhere in the application while the list is shown (an
///   application event filter that consumes them), and the list keeps the selected row centred.
/// - Space opens the in-app preview of the selected file, which follows the selection until it is closed.
/// - A new folder or time-period filter resets the selection to the first screenshot.
/// - Rows that come or go elsewhere in the list leave the selected screenshot selected and the rows on
///   screen where they are (unless the list is at its top, where new rows show).
/// - A row takes clicks (select), double clicks (open the file), right clicks (select, then "Delete" and
///   "Show in Folder") and drags (a screenshot drag onto the sidebar's folders).
class ScreenshotListView : public UniformRowListView {
    Q_OBJECT

public:
    ScreenshotListView(ScreenshotsListManager& manager, LibrarySelection& selection, QWidget* parent = nullptr);
    ~ScreenshotListView() override;

    ScreenshotListModel& listModel() const { return *model_; }
    ThumbnailCache& thumbnails() const { return *thumbnails_; }
    ScreenshotRowDelegate& rowDelegate() const { return *delegate_; }

    /// Moves the selection for Up (key code Qt::Key_Up) or Down; answers whether the key was consumed (both
    /// always are, also at the ends of the list).
    bool handleKeyDown(int key);
    /// Index 0 and the first screenshot (none for an empty list); closes the preview.
    void resetSelection();
    /// Centres the selected row after a keyboard move, or the first row when the index is 0.
    void scrollToSelection();
    /// With the preview open, shows the file of the screenshot at `index`.
    void followSelectionInPreview(int index);
    /// Opens the preview of the selected screenshot's file (Space).
    void showQuickLook();
    /// The row's click: selects the screenshot and its position in the list.
    void selectScreenshot(const ScreenshotPtr& screenshot);

    const std::optional<QUrl>& quickLookPreviewUrl() const { return quickLookPreviewUrl_; }
    void setQuickLookPreviewUrl(std::optional<QUrl> url);
    bool keyMonitorInstalled() const { return keyMonitorInstalled_; }
    bool scrollTriggeredByKeyboard() const { return scrollTriggeredByKeyboard_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    /// Thumbnails, application icons and the pulse of the placeholder bars repaint the rows that show them.
    void followRowPainting();
    /// Follows the list, its thumbnails and the selection for the view's whole life.
    void followListAndSelection();
    void installKeyMonitor();
    void removeKeyMonitor();
    /// The screenshot of the row whose mouse surface holds `point` (viewport coordinates), or null.
    ScreenshotPtr screenshotAt(const QPoint& point) const;
    void showContextMenu(const ScreenshotPtr& screenshot, const QPoint& globalPosition);
    void pulseLoadingBars();
    /// After rows came or went: the selection's index follows its screenshot.
    void followSelectedRow();
    /// Repaints the row of the screenshot `id` if it is on screen.
    void repaintRowOf(qint64 id);

    ScreenshotsListManager& manager_;
    LibrarySelection& selection_;
    ScreenshotListModel* model_;
    ThumbnailCache* thumbnails_;
    ScreenshotRowDelegate* delegate_;
    QPointer<ScreenshotPreviewWindow> preview_;
    QMenu* contextMenu_ = nullptr;
    std::optional<QUrl> quickLookPreviewUrl_;
    bool keyMonitorInstalled_ = false;
    bool scrollTriggeredByKeyboard_ = false;
    /// Where the left button last went down on a row (not the second click of a double click), and the
    /// screenshot of that row; a drag is measured from there.
    std::optional<QPoint> pressPoint_;
    ScreenshotPtr pressedScreenshot_;
    QTimer pulseTimer_;
    QElapsedTimer pulseClock_;
    bool processingRowSeen_ = false;
    /// The screenshot whose row was painted selected.
    std::optional<qint64> paintedSelection_;
};

} // namespace lumetrove
