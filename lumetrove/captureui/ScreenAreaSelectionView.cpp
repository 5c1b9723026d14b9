#include "lumetrove/captureui/ScreenAreaSelectionView.h"

#include "lumetrove/capture/ScreenshotWindowDetails.h"
#include "lumetrove/platform/Symbols.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>

namespace lumetrove {
namespace {

bool darkAppearance(const QWidget& widget)
{
    return widget.palette().color(QPalette::Window).lightness() < 128;
}

} // namespace

QStringList assistantPresetTitles()
{
    QStringList titles;
    for (const AssistantTask task : presetAssistantTasks) {
        titles.append(assistantTaskTitle(task));
    }
    return titles;
}

QString assistantPromptForTitle(const QString& title)
{
    for (const AssistantTask task : presetAssistantTasks) {
        if (title == assistantTaskTitle(task)) {
            return assistantTaskText(task);
        }
    }
    return title;
}

AssistantPanelPosition assistantPanelPosition(const QRectF& selection, const QSizeF& viewSize)
{
    // The rules are stated with y up (origin at the bottom-left), as the distances to the screen's edges read.
    const double W = viewSize.width();
    const double H = viewSize.height();
    const double x = selection.x();
    const double w = selection.width();
    const double h = selection.height();
    const double y = H - selection.bottom();
    const double top = selection.top(); // the selection's upper edge, y down

    // A small selection near a corner moves the side placements 50 points towards the middle.
    int nudge = 0;
    if (w < 300 && h < 300) {
        if (W - 150 < x + w) {
            nudge = H - 150 < y + h ? 50 : 0;
        }
        if (W - 150 < x + w && y < 150) {
            nudge = -50;
        }
        if (x < 150 && y < 150) {
            nudge = -50;
        }
        if (x < 150 && H - 150 < y + h) {
            nudge = 50;
        }
    }
    const double sideTop = top + h / 2 - 40 + nudge;
    const AssistantPanelPosition below{AssistantPlacement::below, {x + w / 2 - 123, top + h + 30}};
    const AssistantPanelPosition above{AssistantPlacement::above, {x + w / 2 - 123, top - 100}};
    const AssistantPanelPosition left{AssistantPlacement::left, {x - 295, sideTop}};
    const AssistantPanelPosition right{AssistantPlacement::right, {x + w + 25, sideTop}};
    const AssistantPanelPosition centered{AssistantPlacement::centered, {x + w / 2 - 150, top + h / 2 - 40}};

    const bool nearlyFullWidth = x + w > W - 300 && x < 300;
    const bool nearlyFullHeight = y + h > H - 300 && y < 300;
    if (nearlyFullWidth && nearlyFullHeight) {
        return centered;
    }
    if (!nearlyFullWidth) {
        if (nearlyFullHeight) {
            return x + w > W - 300 ? left : right;
        }
        if (x > W - 300 && w < 500) {
            return left;
        }
        if (x < 300 && w < 500) {
            return right;
        }
        if (y + h > H - 300) {
            return below;
        }
    }
    return y < H / 2 ? above : below;
}

EscHandlingTextField::EscHandlingTextField(QWidget* parent) : QLineEdit(parent)
{}

void EscHandlingTextField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (customDelegate) {
            customDelegate->endCapture(CaptureResult::cancelled);
        }
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

ScreenAreaSelectionView::ScreenAreaSelectionView(QWidget* parent)
    : QWidget(parent), windowLookup([](QPointF point) { return windowDetailsAtPoint(point); })
{
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
}

QRectF ScreenAreaSelectionView::rectBetween(QPointF a, QPointF b)
{
    return QRectF(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()), std::abs(a.y() - b.y()));
}

void ScreenAreaSelectionView::mousePressEvent(QMouseEvent* event)
{
    if (showingAssistant_) {
        QWidget::mousePressEvent(event);
        return;
    }
    // Over the desktop there is no window: the details are there all the same, with nothing in them.
    windowDetails_ = windowLookup ? windowLookup(event->globalPosition()) : std::nullopt;
    if (!windowDetails_) {
        windowDetails_ = WindowDetails{};
    }
    mouseDownPoint_ = event->position();
    // A new drag: what another overlay drew of an earlier one goes.
    if (delegate) {
        delegate->selectionDidChange(*this, QRectF());
    }
}

void ScreenAreaSelectionView::mouseMoveEvent(QMouseEvent* event)
{
    if (showingAssistant_ || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QRectF previous = selectionRect_;
    selectionRect_ = rectBetween(mouseDownPoint_, event->position());
    update(previous.united(selectionRect_).toAlignedRect().adjusted(-2, -2, 2, 2));
    // A drag that runs into another screen is drawn on that screen's overlay too.
    if (delegate) {
        delegate->selectionDidChange(*this, selectionRect_);
    }
}

void ScreenAreaSelectionView::setCrossingSelection(QRectF area)
{
    const QRectF shown = area.intersected(QRectF(rect()));
    if (shown.isEmpty() && crossingSelection_.isEmpty()) {
        return;
    }
    const QRectF previous = crossingSelection_;
    crossingSelection_ = shown.isEmpty() ? QRectF() : area;
    update(previous.united(crossingSelection_).toAlignedRect().adjusted(-2, -2, 2, 2).intersected(rect()));
}

void ScreenAreaSelectionView::mouseReleaseEvent(QMouseEvent* event)
{
    if (showingAssistant_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    setCursor(Qt::ArrowCursor);
    // The reported area runs to where the mouse was released, wherever the last drag event was.
    const QRectF area = rectBetween(mouseDownPoint_, event->position());
    if (area.width() >= 1 && area.height() >= 1) {
        if (isAssistant) {
            selectionRect_ = area;
            if (delegate) {
                delegate->selectionDidChange(*this, selectionRect_);
            }
            showAssistantPanel();
        } else if (delegate) {
            delegate->didSelectArea(*this, area, windowDetails_);
        }
    } else if (delegate) {
        delegate->endCapture(CaptureResult::cancelled);
    }
}

void ScreenAreaSelectionView::keyPressEvent(QKeyEvent* event)
{
    // Escape cancels; every other key is swallowed, so nothing beeps or reaches another window.
    if (event->key() == Qt::Key_Escape && delegate) {
        delegate->endCapture(CaptureResult::cancelled);
    }
    event->accept();
}

void ScreenAreaSelectionView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = darkAppearance(*this);
    if (showingAssistant_) {
        // The rest of the screen is nearly covered; the selection stays clear.
        painter.save();
        painter.setClipRegion(QRegion(rect()) - QRegion(selectionRect_.toAlignedRect()));
        painter.fillRect(rect(), dark ? QColor(0, 0, 0, 242) : QColor(255, 255, 255, 242));
        painter.restore();
    }
    // The whole rectangle is drawn, clipped to this screen, so that the parts on neighbouring overlays meet.
    const QRectF selection = selectionRect_.isEmpty() ? crossingSelection_ : selectionRect_;
    if (selection.isEmpty()) {
        return;
    }
    painter.fillRect(selection, dark ? QColor(255, 255, 255, 26) : QColor(128, 128, 128, 77));
    painter.setPen(QPen(Qt::white, 1.0));
    painter.drawRect(selection);
}

void ScreenAreaSelectionView::showAssistantPanel()
{
    showingAssistant_ = true;
    setCursor(Qt::ArrowCursor);
    update();

    QFont font = this->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);

    popupButton_ = new QComboBox(this);
    popupButton_->setFont(font);
    for (const AssistantTask task : presetAssistantTasks) {
        popupButton_->addItem(assistantTaskTitle(task), static_cast<int>(task));
        if (task == AssistantTask::listItems) {
            popupButton_->insertSeparator(popupButton_->count());
        }
    }
    popupButton_->setPlaceholderText(QStringLiteral("Custom Query"));
    popupButton_->setMinimumHeight(2 * QFontInfo(font).pixelSize());
    popupButton_->setMinimumWidth(246);
    connect(popupButton_, &QComboBox::activated, this, [this] { popupButtonDidChange(); });

    // The button is read by its title, which follows the chosen question ("Process", "Copy", "Search").
    processButton_ = new QPushButton(QStringLiteral("Process"), this);
    processButton_->setFont(font);
    processButton_->setIcon(symbolIcon(QStringLiteral("AIScan")));
    connect(processButton_, &QPushButton::clicked, this, [this] { processAssistantSelection(); });

    customPromptTextField_ = new EscHandlingTextField(this);
    customPromptTextField_->customDelegate = delegate;
    // The question is typed a little larger than the panel's controls, as 20 points stand to the desktop's
    // usual 13, not at a size of its own: a fixed 20 points dwarfs the panel on a desktop with smaller fonts.
    QFont fieldFont = this->font();
    fieldFont.setPointSizeF(this->font().pointSizeF() * 20.0 / 13.0);
    customPromptTextField_->setFont(fieldFont);
    customPromptTextField_->setPlaceholderText(QStringLiteral("Or enter your custom query here"));
    customPromptTextField_->setAccessibleName(QStringLiteral("Custom Query"));
    connect(customPromptTextField_, &QLineEdit::textChanged, this,
            [this](const QString& text) { controlTextDidChange(text); });
    // Return presses the Process button, as its key equivalent.
    connect(customPromptTextField_, &QLineEdit::returnPressed, processButton_, &QPushButton::click);
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, processButton_, &QPushButton::click);
    }

    placeAssistantPanel();
    popupButton_->show();
    processButton_->show();
    customPromptTextField_->show();
    customPromptTextField_->setFocus();
}

void ScreenAreaSelectionView::placeAssistantPanel()
{
    // The list's corner is placed; the button sits 10 after it and the field 20 below, as wide as both.
    const AssistantPanelPosition position = assistantPanelPosition(selectionRect_, QSizeF(size()));
    popupButton_->adjustSize();
    QSize listSize = popupButton_->size();
    // The field spans the list and the button; where its placeholder needs more, the list grows to give it.
    const int fieldChrome = 2 * customPromptTextField_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 12;
    const int placeholderWidth =
        QFontMetrics(customPromptTextField_->font()).horizontalAdvance(customPromptTextField_->placeholderText()) +
        fieldChrome;
    listSize.setWidth(std::max(listSize.width(), placeholderWidth - 10 - 100));
    const QPoint origin = position.listOrigin.toPoint();
    popupButton_->setGeometry(QRect(origin, listSize));
    processButton_->setGeometry(QRect(origin.x() + listSize.width() + 10, origin.y(), 100, listSize.height()));
    customPromptTextField_->adjustSize();
    customPromptTextField_->setGeometry(QRect(origin.x(), origin.y() + listSize.height() + 20,
                                              listSize.width() + 10 + 100, customPromptTextField_->height()));
}

void ScreenAreaSelectionView::popupButtonDidChange()
{
    switch (chosenPreset()) {
    case AssistantTask::copyText:
        processButton_->setText(QStringLiteral("Copy"));
        processButton_->click();
        break;
    case AssistantTask::webSearch:
        processButton_->setText(QStringLiteral("Search"));
        processButton_->click();
        break;
    default:
        processButton_->setText(QStringLiteral("Process"));
        break;
    }
}

AssistantTask ScreenAreaSelectionView::chosenPreset() const
{
    const QVariant chosen = popupButton_ ? popupButton_->currentData() : QVariant();
    return chosen.isValid() ? static_cast<AssistantTask>(chosen.toInt()) : AssistantTask::custom;
}

void ScreenAreaSelectionView::controlTextDidChange(const QString& text)
{
    if (!text.isEmpty()) {
        popupButton_->setCurrentIndex(-1); // shows "Custom Query"
        popupButton_->setEnabled(false);
    } else {
        popupButton_->setCurrentIndex(0);
        popupButton_->setEnabled(true);
    }
}

void ScreenAreaSelectionView::processAssistantSelection()
{
    const QString typed = customPromptTextField_ ? customPromptTextField_->text() : QString();
    const QString task = !typed.isEmpty() ? typed : assistantTaskText(chosenPreset());
    if (windowDetails_) {
        windowDetails_->aiAssistantTask = task;
    }
    if (delegate) {
        delegate->didSelectArea(*this, selectionRect_, windowDetails_);
    }
}

} // namespace lumetrove
