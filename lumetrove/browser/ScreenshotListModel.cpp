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
    connect(&manager, &ScreenshotsListManager::textSnippetsLoaded, this, &ScreenshotListModel::textSnippetsLoaded);
}

int ScreenshotListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) {
        return 0;
    }
    return static_cast<int>(following_ ? followedRows_ + screenshots_.size() - followedFrom_ : screenshots_.size());
}

QModelIndex ScreenshotListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column != 0 || parent.isValid() || row >= rowCount()) {
        return QModelIndex();
    }
    return createIndex(row, column);
}

std::pair<const ScreenshotList*, qsizetype> ScreenshotListModel::locate(int row) const
{
    if (!following_) {
        return {&screenshots_, row};
    }
    if (row < followedRows_) {
        return {&*following_, row};
    }
    return {&screenshots_, row - followedRows_ + followedFrom_};
}

QVariant ScreenshotListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const auto [list, position] = locate(index.row());
    const ScreenshotRow& row = list->row(position);
    if (role == IdRole) {
        return row.id;
    }
    if (role == ScreenshotRole) {
        return QVariant::fromValue(list->at(position));
    }
    // A held record shows what it holds now; a row nobody uses shows its values.
    const ScreenshotPtr record = manager_.heldScreenshot(row.id);
    const auto date = [&] {
        return record ? record->displayDate() : screenshotDisplayDate(screenshotCreatedDate(row.createdAt));
    };
    const auto description = [&] {
        if (record && (record->unconfirmedAIDescription() || record->description() || record->hasDetails() ||
                       !record->textSnippet().isEmpty())) {
            return rowDescription(*record);
        }
        return listedDescription(index.row(), row);
    };
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
    if (row < 0 || row >= rowCount()) {
        return nullptr;
    }
    const auto [list, position] = locate(row);
    return list->at(position);
}

void ScreenshotListModel::follow(const ScreenshotList& screenshots, const ScreenshotListChange& change)
{
    // Beyond this many runs of inserted and removed rows, telling each costs the views more than a reset.
    constexpr std::size_t mostRuns = 64;
    qsizetype before = 0;
    qsizetype after = 0;
    for (const ScreenshotListChange::Run& run : change.runs) {
        before += run.kind == ScreenshotListChange::Run::Kind::inserted ? 0 : run.count;
        after += run.kind == ScreenshotListChange::Run::Kind::removed ? 0 : run.count;
    }
    // A change told of other lists than these two (it never is) is no change to follow either.
    if (change.runs.size() > mostRuns || before != screenshots_.size() || after != screenshots.size()) {
        beginResetModel();
        screenshots_ = screenshots;
        endResetModel();
        return;
    }
    const bool moves = !change.sameIds;
    following_ = screenshots;
    followedRows_ = 0;
    followedFrom_ = 0;
    for (const ScreenshotListChange::Run& run : change.runs) {
        const int first = static_cast<int>(followedRows_);
        const int last = static_cast<int>(followedRows_ + run.count - 1);
        switch (run.kind) {
        case ScreenshotListChange::Run::Kind::kept:
            followedRows_ += run.count;
            followedFrom_ += run.count;
            break;
        case ScreenshotListChange::Run::Kind::removed:
            beginRemoveRows(QModelIndex(), first, last);
            followedFrom_ += run.count;
            endRemoveRows();
            break;
        case ScreenshotListChange::Run::Kind::inserted:
            beginInsertRows(QModelIndex(), first, last);
            followedRows_ += run.count;
            endInsertRows();
            break;
        }
    }
    screenshots_ = screenshots;
    following_.reset();
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
    if (moves) {
        emit followed();
    }
}

QString ScreenshotListModel::listedDescription(int modelRow, const ScreenshotRow& row) const
{
    if (row.description || row.textSnippet) {
        return rowDescription(row);
    }
    if (std::optional<QString> snippet = manager_.listedTextSnippet(row.id)) {
        return *std::move(snippet);
    }
    // Asked for once for a screenful and more around the row, as the view paints the rows it shows.
    constexpr int before = 96;
    constexpr int after = 224;
    std::vector<qint64> ids;
    const int last = std::min(rowCount(), modelRow + after);
    for (int other = std::max(0, modelRow - before); other < last; ++other) {
        const auto [list, position] = locate(other);
        const ScreenshotRow& listed = list->row(position);
        if (!listed.description && !listed.textSnippet) {
            ids.push_back(listed.id);
        }
    }
    manager_.loadTextSnippets(ids);
    return QString();
}

void ScreenshotListModel::textSnippetsLoaded(const std::vector<qint64>& ids)
{
    std::optional<qsizetype> first;
    std::optional<qsizetype> last;
    for (const qint64 id : ids) {
        if (const std::optional<qsizetype> position = screenshots_.indexOf(id)) {
            first = first ? std::min(*first, *position) : *position;
            last = last ? std::max(*last, *position) : *position;
        }
    }
    if (first) {
        emit dataChanged(index(static_cast<int>(*first)), index(static_cast<int>(*last)),
                         {DetailTextRole, DescriptionRole});
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
