#pragma once

#include "lumetrove/library/Screenshot.h"
#include "lumetrove/library/ScreenshotList.h"

#include <QAbstractListModel>
#include <QHash>
#include <optional>
#include <utility>

namespace lumetrove {

class ScreenshotsListManager;

/// The rows of the screenshot list: the list manager's rows in display order, shown from their values, or from
/// the screenshot's record while someone holds one (the selection, an AI request), so that its changes show at
/// once. A newly published list is followed in place: removed and inserted rows are told as such and rows
/// that show new values as changed, so that the views keep their place; a list of scattered other rows (a
/// search) resets the model instead, which costs nothing per row. Main thread.
class ScreenshotListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        /// The row's `ScreenshotPtr`: its record, made when nobody holds one. Not for painting.
        ScreenshotRole = Qt::UserRole + 1,
        /// The date and description line: the display date, two spaces, the description.
        DetailTextRole,
        /// The screenshot's id.
        IdRole,
        /// The display date alone.
        DateRole,
        /// The description alone (`rowDescription`).
        DescriptionRole,
        /// True while an AI request for the screenshot runs.
        ProcessingRole,
        /// The captured application's desktop-entry id, or an invalid value.
        AppBundleIdRole,
    };

    explicit ScreenshotListModel(ScreenshotsListManager& manager, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    /// Without the base class's check through `rowCount`: the list view asks for every row's index whenever
    /// it lays out its rows, 100k times for a list of 100k.
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = QModelIndex()) const override;
    /// `Qt::DisplayRole` is the name the row shows.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// The record of a row's screenshot (made now when nobody holds one); null outside the list.
    ScreenshotPtr screenshotAt(int row) const;
    const ScreenshotList& screenshots() const { return screenshots_; }

signals:
    /// A list that moved rows has been followed row by row (not reset) and is in place.
    void followed();

private:
    void follow(const ScreenshotList& screenshots, const ScreenshotListChange& change);
    void screenshotChanged(qint64 id);
    /// The description of a row nobody holds a record of, or whose record has read no text yet: its text start,
    /// asked for (with those of the rows around it) when it has not been read.
    QString listedDescription(int modelRow, const ScreenshotRow& row) const;
    void textSnippetsLoaded(const std::vector<qint64>& ids);
    /// The list that holds the model's row `row` while a change is followed, and the row's position in it.
    std::pair<const ScreenshotList*, qsizetype> locate(int row) const;

    ScreenshotsListManager& manager_;
    ScreenshotList screenshots_;
    /// While a change is followed: the new list, the first `followedRows_` rows of the model being its rows
    /// and the rest the rows of `screenshots_` from `followedFrom_` on.
    std::optional<ScreenshotList> following_;
    qsizetype followedRows_ = 0;
    qsizetype followedFrom_ = 0;
};

/// The name a row shows: the unconfirmed AI name, else the name, else the default name without its last
/// extension (the part after the last full stop).
QString rowDisplayName(const Screenshot& screenshot);
/// The same of a row nobody holds a record of.
QString rowDisplayName(const ScreenshotRow& row);

/// The description a row shows: the unconfirmed AI description, else the description, else the start of the
/// recognised text (never read from the database here), else "".
QString rowDescription(const Screenshot& screenshot);
/// The same of a row nobody holds a record of.
QString rowDescription(const ScreenshotRow& row);

} // namespace lumetrove
