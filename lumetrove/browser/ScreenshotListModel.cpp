#include "lumetrove/browser/ScreenshotListModel.h"

#include "lumetrove/library/ScreenshotsListManager.h"

namespace lumetrove {

namespace {

QString displayNameOf(const std::optional<QString>& name, const QString& defaultName)
{
    if (name) {
        return *name;
    }
    // The default name's time "hh.mm.ss AM" loses its last part to this rule, as the path rule has it.
    const qsizetype slash = defaultName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = defaultName.lastIndexOf(QLatin1Char('.'));
    if (dot > slash + 1) {
        return defaultName.left(dot);
    }
    return defaultName;
}

} // namespace

QString rowDisplayName(const Screenshot& screenshot)
{
    if (screenshot.unconfirmedAIName()) {
        return *screenshot.unconfirmedAIName();
    }
    return displayNameOf(screenshot.name(), screenshot.name() ? QString() : screenshot.defaultName());
}

QString rowDisplayName(const ScreenshotRow& row)
{
    return displayNameOf(row.name, row.name ? QString() : screenshotDefaultName(screenshotCreatedDate(row.createdAt)));
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

QString rowDescription(const ScreenshotRow& row)
{
    if (row.description) {
        return *row.description;
    }
    return row.textSnippet.value_or(row.text.value_or(QString()).left(screenshotTextSnippetLength));
}

ScreenshotListModel::ScreenshotListModel(ScreenshotsListManager& manager, QObject* parent)
    : QAbstractListModel(parent), manager_(manager), screenshots_(manager.screenshots())
{
    connect(&manager, &ScreenshotsListManager::screenshotsChanged, this, &ScreenshotListModel::follow);
    connect(&manager, &ScreenshotsListManager::screenshotChanged, this, &ScreenshotListModel::screenshotChanged);
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
    const ScreenshotRow& row = screenshots_.row(index.row());
    if (role == IdRole) {
        return row.id;
    }
    if (role == ScreenshotRole) {
        return QVariant::fromValue(screenshots_.at(index.row()));
    }
    // A held record shows what it holds now; a row nobody uses shows its values.
    const ScreenshotPtr record = manager_.heldScreenshot(row.id);
    const auto date = [&] {
        return record ? record->displayDate() : screenshotDisplayDate(screenshotCreatedDate(row.createdAt));
    };
    const auto description = [&] { return record ? rowDescription(*record) : rowDescription(row); };
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return record ? rowDisplayName(*record) : rowDisplayName(row);
    case DetailTextRole:
        return date() + QStringLiteral("  ") + description();
    case DateRole:
        return date();
    case DescriptionRole:
        return description();
    case ProcessingRole:
        return record && record->currentlyAIProcessing();
    case AppBundleIdRole:
        return row.capturedAppBundleId ? QVariant(*row.capturedAppBundleId) : QVariant();
    default:
        return {};
    }
}

QHash<int, QByteArray> ScreenshotListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(ScreenshotRole, "screenshot");
    names.insert(DetailTextRole, "detailText");
    names.insert(IdRole, "screenshotId");
    names.insert(DateRole, "date");
    names.insert(DescriptionRole, "description");
    names.insert(ProcessingRole, "processing");
    names.insert(AppBundleIdRole, "appBundleId");
    return names;
}

ScreenshotPtr ScreenshotListModel::screenshotAt(int row) const
{
    return screenshots_.value(row);
}

void ScreenshotListModel::follow(const ScreenshotList& screenshots, const ScreenshotListChange& change)
{
    if (!change.sameIds || screenshots.size() != screenshots_.size()) {
        beginResetModel();
        screenshots_ = screenshots;
        endResetModel();
        return;
    }
    screenshots_ = screenshots;
    // Runs of consecutive changed rows, one signal each.
    const std::vector<qsizetype>& changed = change.changedRows;
    for (std::size_t first = 0; first < changed.size();) {
        std::size_t last = first;
        while (last + 1 < changed.size() && changed[last + 1] == changed[last] + 1) {
            ++last;
        }
        emit dataChanged(index(static_cast<int>(changed[first])), index(static_cast<int>(changed[last])));
        first = last + 1;
    }
}

void ScreenshotListModel::screenshotChanged(qint64 id)
{
    if (const std::optional<qsizetype> position = screenshots_.indexOf(id)) {
        const QModelIndex changed = index(static_cast<int>(*position));
        emit dataChanged(changed, changed);
    }
}

} // namespace lumetrove
