#pragma once

#include "lumetrove/library/FolderSection.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace lumetrove {

/// The inclusive bounds of a time period as the database stores times: UTC text "yyyy-MM-dd HH:mm:ss".
struct DateRange {
    QString lower;
    QString upper;

    friend bool operator==(const DateRange&, const DateRange&) = default;
};

/// The period of a section at the instant `now`, in local time and the locale's first day of the week:
/// today is [start of today, now + 1 minute], yesterday [start of yesterday, start of today], lastWeek
/// [start of last week, start of this week]. None for `all`, a folder, or no section.
std::optional<DateRange> dateRangeFilter(const std::optional<FolderSection>& section,
                                         const QDateTime& now = QDateTime::currentDateTime());

/// A time as the database writes `created_at`: UTC, "yyyy-MM-dd HH:mm:ss".
QString databaseTimestamp(const QDateTime& time);

} // namespace lumetrove
