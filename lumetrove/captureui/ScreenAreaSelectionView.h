#pragma once

#include "lumetrove/library/AssistantTask.h"
#include "lumetrove/library/CaptureResult.h"
#include "lumetrove/library/WindowDetails.h"

#include <QLineEdit>
#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QPushButton;

namespace lumetrove {

class ScreenAreaSelectionView;

/// Receives what the overlay's user did: a selected area, or the end of the capture.
class ScreenAreaSelectionViewDelegate {
public:
    virtual ~ScreenAreaSelectionViewDelegate() = default;
    /// `area` is in the view's coordinates.
    virtual void didSelectArea(ScreenAreaSelectionView& view, QRectF area, std::optional<WindowDetails> details) = 0;
    virtual void endCapture(CaptureResult result) = 0;
    /// The selection being dragged on `view` is now `area` (in the view's coordinates; empty: none).
    virtual void selectionDidChange(ScreenAreaSelectionView& view, QRectF area)
    {
        (void)view;
        (void)area;
    }
};

/// The assistant's preset questions as the list shows them, with a separator after "List items".
QStringList assistantPresetTitles();

/// The task text stored for a title of the list ("List items" asks "List the items in this image"); any
/// other title, the empty one included, is its own task.
QString assistantPromptForTitle(const QString& title);

/// Where the assistant panel goes beside a selection.
enum class AssistantPlacement { below, above, left, right, centered };

struct AssistantPanelPosition {
    AssistantPlacement placement;
    /// The top-left corner of the question list, in the view's coordinates.
    QPointF listOrigin;
};

/// The panel's place for `selection` in a view of `viewSize` (both with y down): beside, above or below the
/// selection, whichever leaves it room, nudged 50 points towards the middle when a small selection lies
/// in a corner, and centred on a selection that covers nearly the whole screen.
AssistantPanelPosition assistantPanelPosition(const QRectF& selection, const QSizeF& viewSize);

/// The field for a question of the user's own; Escape in it ends the capture as cancelled.
class EscHandlingTextField : public QLineEdit {
    Q_OBJECT

public:
    explicit EscHandlingTextField(QWidget* parent = nullptr);
    ScreenAreaSelectionViewDelegate* customDelegate = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

/// The content of each overlay: the user drags a rectangle with a cross-hair cursor; a click, or Escape,
/// cancels. In assistant mode the rest of the screen is dimmed when the drag ends and a panel beside the
/// selection asks which question to ask about it. The view keeps Qt's coordinates (y down).
class ScreenAreaSelectionView : public QWidget {
    Q_OBJECT

public:
    /// Finds the window under a global point; the live window list unless a test sets another.
    using WindowLookup = std::function<std::optional<WindowDetails>(QPointF globalPoint)>;

    explicit ScreenAreaSelectionView(QWidget* parent = nullptr);

    bool isAssistant = false;
    ScreenAreaSelectionViewDelegate* delegate = nullptr;
    WindowLookup windowLookup;

    QRectF selectionRect() const { return selectionRect_; }
    const std::optional<WindowDetails>& windowDetails() const { return windowDetails_; }

    /// The part of a selection dragged on another overlay that crosses into this one, in this view's
    /// coordinates (empty: none); drawn as this view's own selection is, while it has none of its own.
    void setCrossingSelection(QRectF area);

    /// Dims the screen around the selection and shows the question list, the Process button and the field.
    void showAssistantPanel();
    /// Stores the chosen question as the task and reports the selection.
    void processAssistantSelection();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    /// Places the panel's controls beside the selection.
    void placeAssistantPanel();
    void popupButtonDidChange();
    /// The preset the list shows; `custom` while it shows none.
    AssistantTask chosenPreset() const;
    void controlTextDidChange(const QString& text);
    static QRectF rectBetween(QPointF a, QPointF b);

    QPointF mouseDownPoint_;
    QRectF selectionRect_;
    QRectF crossingSelection_;
    std::optional<WindowDetails> windowDetails_;
    bool showingAssistant_ = false;
    QComboBox* popupButton_ = nullptr;
    QPushButton* processButton_ = nullptr;
    EscHandlingTextField* customPromptTextField_ = nullptr;
};

} // namespace lumetrove
