#pragma once

#include "lumetrove/library/Screenshot.h"
#include "lumetrove/library/ScreenshotList.h"

#include <QAbstractListModel>
#include <QHash>

namespace lumetrove {

class ScreenshotsListManager;

/// The rows of the screenshot list: the list manager's rows in display order, shown from their values, or from
/// the screenshot's record while someone holds one (the selection, an AI request), so that its changes show at
/// once. A newly published list whose rows are those of the list before tells the rows whose values changed;
/// any other resets the model (it costs nothing per row). Main thread.
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
    /// `Qt::DisplayRole` is the name the row shows.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// The record of a row's screenshot (made now when nobody holds one); null outside the list.
    ScreenshotPtr screenshotAt(int row) const;
    const ScreenshotList& screenshots() const { return screenshots_; }

private:
    void follow(const ScreenshotList& screenshots, const ScreenshotListChange& change);
    void screenshotChanged(qint64 id);

    ScreenshotsListManager& manager_;
    ScreenshotList screenshots_;
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
