#include "lumetrove/browser/ScreenshotListModel.h"

#include "lumetrove/library/ScreenshotsListManager.h"

namespace lumetrove {

QString rowDisplayName(const Screenshot& screenshot)
{
    if (screenshot.unconfirmedAIName()) {
        return *screenshot.unconfirmedAIName();
    }
    if (screenshot.name()) {
        return *screenshot.name();
    }
    // The default name's time "hh.mm.ss AM" loses its last part to this rule, as the path rule has it.
    const QString defaultName = screenshot.defaultName();
    const qsizetype slash = defaultName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = defaultName.lastIndexOf(QLatin1Char('.'));
    if (dot > slash + 1) {
        return defaultName.left(dot);
    }
    return defaultName;
}

QString rowDescription(const Screenshot& screenshot)
{
    if (screenshot.unconfirmedAIDescription()) {
        return *screenshot.unconfirmedAIDescription();
    }
    if (screenshot.description()) {
        return *screenshot.description();
    }
    return screenshot.textSnippet();
}

ScreenshotListModel::ScreenshotListModel(ScreenshotsListManager& manager, QObject* parent)
    : QAbstractListModel(parent), screenshots_(manager.screenshots())
{
    connect(&manager, &ScreenshotsListManager::screenshotsChanged, this, &ScreenshotListModel::reset);
}

int ScreenshotListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(screenshots_.size());
}

QVariant ScreenshotListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const ScreenshotPtr& screenshot = screenshots_.at(index.row());
    observe(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return rowDisplayName(*screenshot);
    case DetailTextRole:
        return screenshot->displayDate() + QStringLiteral("  ") + rowDescription(*screenshot);
    case ScreenshotRole:
        return QVariant::fromValue(screenshot);
    default:
        return {};
    }
}

QHash<int, QByteArray> ScreenshotListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(ScreenshotRole, "screenshot");
    names.insert(DetailTextRole, "detailText");
    return names;
}

ScreenshotPtr ScreenshotListModel::screenshotAt(int row) const
{
    if (row < 0 || row >= screenshots_.size()) {
        return nullptr;
    }
    return screenshots_.at(row);
}

void ScreenshotListModel::reset(const QList<ScreenshotPtr>& screenshots)
{
    beginResetModel();
    for (auto it = observedRows_.cbegin(); it != observedRows_.cend(); ++it) {
        disconnect(it.key(), nullptr, this, nullptr);
    }
    observedRows_.clear();
    screenshots_ = screenshots;
    endResetModel();
}

void ScreenshotListModel::observe(int row) const
{
    const Screenshot* screenshot = screenshots_.at(row).get();
    if (observedRows_.contains(screenshot)) {
        return;
    }
    observedRows_.insert(screenshot, row);
    connect(screenshot, &Screenshot::changed, this, &ScreenshotListModel::screenshotChanged);
}

void ScreenshotListModel::screenshotChanged()
{
    const auto* screenshot = qobject_cast<const Screenshot*>(sender());
    const auto found = observedRows_.constFind(screenshot);
    if (found == observedRows_.cend()) {
        return;
    }
    const QModelIndex changed = index(found.value());
    emit dataChanged(changed, changed);
}

} // namespace lumetrove
