// The root view's widgets: the toolbar, the three columns and the first-launch arrow, and how they are shown and
// sized for the list's state and the screen.
#include "lumetrove/app/AppCommands.h"
#include "lumetrove/app/AssistantActions.h"
#include "lumetrove/app/ContentView.h"
#include "lumetrove/app/FirstLaunchChecker.h"
#include "lumetrove/app/ProblemBar.h"
#include "lumetrove/app/WindowFit.h"
#include "lumetrove/browser/FolderListView.h"
#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/browser/ScreenshotListView.h"
#include "lumetrove/detail/ScreenshotDetailView.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/NamedColors.h"
#include "lumetrove/platform/Symbols.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace lumetrove {

namespace {

// The arrow stands this far below the top edge of the view, its tip under the toolbar's "AI Assistant" button.
constexpr int firstLaunchArrowOffsetY = 10;

// The columns' least widths where the screen has room for them; the list column is wider while the first-launch
// hint is shown. They leave the window narrow enough to be tiled to half a 1920-pixel screen (its rows go
// compact there); the columns start at their ideal widths where the window has room. Where the screen is
// narrower still, the list and detail columns give way down to the floor.
constexpr ColumnWidths columnMinimums{250, 320, 360};
constexpr ColumnWidths columnIdeals{350, 650, 600};
constexpr int sidebarMaximumWidth = 360;
constexpr int firstLaunchListMinimumWidth = 600;
constexpr int narrowColumnFloor = 200;

} // namespace

void ContentView::buildToolbar()
{
    toolbar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    toolbar_->setMovable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    auto addButton = [this](const QString& title, const QIcon& icon, auto action, bool withLabelStyle) {
        QAction* item = toolbar_->addAction(icon, title);
        item->setToolTip(title);
        connect(item, &QAction::triggered, this, action);
        if (auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(item))) {
            button->setAccessibleName(title);
            // The two capture buttons keep their label beside the icon, padded like a label of their own.
            button->setToolButtonStyle(withLabelStyle ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
            if (withLabelStyle) {
                button->setStyleSheet(QStringLiteral("QToolButton { padding: 5px; }"));
            }
        }
        return item;
    };
    QAction* assistant = addButton(
        QStringLiteral("AI Assistant"), QIcon(QStringLiteral(":/app/AIAssistant.png")),
        [] { postAIAssistantScreenshot(); }, true);
    aiAssistantButton_ = toolbar_->widgetForAction(assistant);
    if (aiAssistantButton_ != nullptr) {
        aiAssistantButton_->installEventFilter(this);
    }
    addButton(
        QStringLiteral("Screenshot"), QIcon(QStringLiteral(":/app/MenuItem.png")), [] { postTakeScreenshot(); }, true);
    addButton(
        QStringLiteral("Open Folder"), symbolIcon(QStringLiteral("folder")), [] { openScreenshotsFolder(); }, false);
    addButton(
        QStringLiteral("Delete Screenshot"), symbolIcon(QStringLiteral("trash")),
        [this] { deleteSelectedScreenshot(); }, false);
}

void ContentView::buildLayout(FoldersListManager& foldersListManager)
{
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    sidebar_ =
        new FolderListView(foldersListManager, *screenshotsListManager_, *selection_, dependencies_.store, splitter_);
    sidebar_->setMaximumWidth(sidebarMaximumWidth);
    buildListColumn();
    buildDetailColumn();
    splitter_->addWidget(sidebar_);
    splitter_->addWidget(listColumn_);
    splitter_->addWidget(detailStack_);
    splitter_->setSizes({columnIdeals.sidebar, columnIdeals.list, columnIdeals.detail});
    splitter_->setStretchFactor(1, 1);
    splitter_->setStretchFactor(2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    problemBar_ = new ProblemBar(this);
    layout->addWidget(problemBar_);
    repairProgress_ = new QLabel(QStringLiteral("Repairing the library…"), this);
    repairProgress_->setContentsMargins(8, 4, 8, 4);
    repairProgress_->setVisible(libraryStore()->repairingInBackground()); // a repair begun by the open
    layout->addWidget(repairProgress_);
    layout->addWidget(splitter_, 1);

    buildFirstLaunchArrow();
}

void ContentView::buildListColumn()
{
    listColumn_ = new QWidget(splitter_);
    auto* listLayout = new QVBoxLayout(listColumn_);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    searchField_ = new QLineEdit(listColumn_);
    searchField_->setClearButtonEnabled(true);
    searchField_->setAccessibleName(QStringLiteral("Search"));
    // The prompt a search field shows when it is given none of its own.
    searchField_->setPlaceholderText(QStringLiteral("Search"));
    connect(searchField_, &QLineEdit::textChanged, this, &ContentView::setSearchText);
    listLayout->addWidget(searchField_);
    importProgress_ = new QLabel(listColumn_);
    importProgress_->setContentsMargins(8, 4, 8, 4);
    importProgress_->hide();
    listLayout->addWidget(importProgress_);
    listStack_ = new QStackedWidget(listColumn_);
    list_ = new ScreenshotListView(*screenshotsListManager_, *selection_, listStack_);
    emptyState_ = new QLabel(listStack_);
    emptyState_->setAlignment(Qt::AlignCenter);
    QFont emptyFont = emptyState_->font();
    emptyFont.setPixelSize(18);
    emptyFont.setWeight(QFont::Light);
    emptyState_->setFont(emptyFont);
    emptyState_->setAutoFillBackground(true);
    listStack_->addWidget(list_);
    listStack_->addWidget(emptyState_);
    listLayout->addWidget(listStack_);
}

void ContentView::buildDetailColumn()
{
    detailStack_ = new QStackedWidget(splitter_);
    ScreenshotDetailView::Environment detailEnvironment;
    detailEnvironment.screenshotsListManager = screenshotsListManager_;
    detailEnvironment.settingsViewModel = dependencies_.settingsViewModel;
    detail_ = new ScreenshotDetailView(detailEnvironment, detailStack_);
    detailStack_->addWidget(detail_);
    // What the column shows while the list is empty.
    detailStack_->addWidget(new QWidget(detailStack_));
}

void ContentView::buildFirstLaunchArrow()
{
    firstLaunchArrow_ = new QLabel(this);
    firstLaunchArrow_->setPixmap(QPixmap(QStringLiteral(":/app/FirstLaunchArrow.png")));
    firstLaunchArrow_->setAttribute(Qt::WA_TransparentForMouseEvents);
    firstLaunchArrow_->adjustSize();
    firstLaunchArrow_->hide();
}

bool ContentView::shouldShowFirstLaunchArrow() const
{
    return !didTakeOrImportScreenshot_ && dependencies_.firstLaunchChecker != nullptr &&
           dependencies_.firstLaunchChecker->isFirstLaunch() && selection_->section().id() == QLatin1String("all") &&
           screenshotsListManager_->listLoaded() && screenshotsListManager_->screenshots().isEmpty();
}

void ContentView::updateLayoutForState()
{
    // Until the first list arrives the list stays in place, rather than a "No screenshots" that may be untrue.
    const bool empty = screenshotsListManager_->listLoaded() && screenshotsListManager_->screenshots().isEmpty();
    const bool arrow = shouldShowFirstLaunchArrow();
    listStack_->setCurrentWidget(empty ? static_cast<QWidget*>(emptyState_) : list_);
    detailStack_->setCurrentIndex(empty ? 1 : 0);

    emptyState_->setText(arrow ? QStringLiteral("Click 'AI Assistant' to get started")
                               : QStringLiteral("No screenshots"));
    emptyState_->setContentsMargins(0, 0, 0, arrow ? 20 : 40);
    applyColumnMinimums();
    QPalette palette = emptyState_->palette();
    palette.setColor(QPalette::Window, namedColor(QStringLiteral("ListBackgroundColor"), palette));
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(0.5f);
    palette.setColor(QPalette::WindowText, text);
    emptyState_->setPalette(palette);

    firstLaunchArrow_->setVisible(arrow);
    if (arrow) {
        placeFirstLaunchArrow();
        firstLaunchArrow_->raise();
    }
    emit minimumWindowSizeChanged(minimumWindowSize());
}

QSize ContentView::minimumWindowSize() const
{
    return shouldShowFirstLaunchArrow() ? dependencies_.minimumWindowSizeWithFirstLaunchArrow : QSize();
}

void ContentView::setAvailableWidth(int width)
{
    availableWidth_ = width;
    applyColumnMinimums();
}

void ContentView::divideColumns(int width)
{
    const ColumnWidths minimums = fittedColumnMinimums();
    const ColumnWidths widths =
        lumetrove::divideColumns(minimums, columnIdeals, sidebarMaximumWidth, width - 2 * splitter_->handleWidth());
    splitter_->setSizes({widths.sidebar, widths.list, widths.detail});
}

ColumnWidths ContentView::fittedColumnMinimums() const
{
    ColumnWidths wanted = columnMinimums;
    if (shouldShowFirstLaunchArrow()) {
        wanted.list = firstLaunchListMinimumWidth;
    }
    if (availableWidth_ == std::numeric_limits<int>::max()) {
        return wanted;
    }
    return fitColumnMinimums(wanted, availableWidth_ - 2 * splitter_->handleWidth(), narrowColumnFloor);
}

void ContentView::applyColumnMinimums()
{
    const ColumnWidths minimums = fittedColumnMinimums();
    sidebar_->setMinimumWidth(minimums.sidebar);
    listColumn_->setMinimumWidth(minimums.list);
    emptyState_->setMinimumWidth(shouldShowFirstLaunchArrow() ? minimums.list : 0);
    detailStack_->setMinimumWidth(minimums.detail);
    // The splitter's own least size follows its columns', but the layouts above it keep the one they asked
    // for until told: the window could not shrink for a smaller screen.
    splitter_->updateGeometry();
}

void ContentView::placeFirstLaunchArrow()
{
    int centre = width() / 2;
    if (aiAssistantButton_ != nullptr) {
        const QPoint buttonCentre = aiAssistantButton_->mapToGlobal(aiAssistantButton_->rect().center());
        centre = mapFromGlobal(buttonCentre).x();
    }
    const int x =
        std::clamp(centre - firstLaunchArrow_->width() / 2, 0, std::max(0, width() - firstLaunchArrow_->width()));
    firstLaunchArrow_->move(x, firstLaunchArrowOffsetY);
}

void ContentView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (firstLaunchArrow_->isVisible()) {
        placeFirstLaunchArrow();
    }
}

} // namespace lumetrove
