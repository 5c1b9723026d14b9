#pragma once

#include "lumetrove/library/Screenshot.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

namespace lumetrove {

class ScreenshotsListManager;

/// The rows of the screenshot list: the list manager's screenshots in display order. A newly published list
/// resets the model (it costs nothing per row). Only the rows that were asked for are observed, so a change
/// of a shown screenshot repaints its row while a list of 100k costs no connections. Main thread.
class ScreenshotListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        /// The row's `ScreenshotPtr`.
        ScreenshotRole = Qt::UserRole + 1,
        /// The date and description line: the display date, two spaces, the description.
        DetailTextRole,
    };

    explicit ScreenshotListModel(ScreenshotsListManager& manager, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    /// `Qt::DisplayRole` is the name the row shows.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// The screenshot of a row; null outside the list.
    ScreenshotPtr screenshotAt(int row) const;
    const QList<ScreenshotPtr>& screenshots() const { return screenshots_; }

private:
    void reset(const QList<ScreenshotPtr>& screenshots);
    void observe(int row) const;
    void screenshotChanged();

    QList<ScreenshotPtr> screenshots_;
    /// The observed screenshots and their rows.
    mutable QHash<const Screenshot*, int> observedRows_;
};

/// The name a row shows: the unconfirmed AI name, else the name, else the default name without its last
/// extension (the part after the last full stop).
QString rowDisplayName(const Screenshot& screenshot);

/// The description a row shows: the unconfirmed AI description, else the description, else the start of the
/// recognised text (never read from the database here), else "".
QString rowDescription(const Screenshot& screenshot);

} // namespace lumetrove
