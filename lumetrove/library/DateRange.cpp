#include "lumetrove/library/DateRange.h"

#include <QLocale>
#include <QTimeZone>

namespace lumetrove {
namespace {

QDateTime startOfWeek(const QDate& date)
{
    const int firstDay = static_cast<int>(QLocale::system().firstDayOfWeek());
    const int daysIntoWeek = (date.dayOfWeek() - firstDay + 7) % 7;
    return date.addDays(-daysIntoWeek).startOfDay();
}

} // namespace

QString databaseTimestamp(const QDateTime& time)
{
    return time.toTimeZone(QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::optional<DateRange> dateRangeFilter(const std::optional<FolderSection>& section, const QDateTime& now)
{
    if (!section || !now.isValid()) {
        return std::nullopt;
    }
    const QDateTime local = now.toLocalTime();
    const QDate today = local.date();
    QDateTime lower;
    QDateTime upper;
    switch (section->kind()) {
    case FolderSection::Kind::today:
        lower = today.startOfDay();
        upper = local.addSecs(60);
        break;
    case FolderSection::Kind::yesterday:
        lower = local.addDays(-1).date().startOfDay();
        upper = today.startOfDay();
        break;
    case FolderSection::Kind::lastWeek:
        lower = startOfWeek(local.addDays(-7).date());
        upper = startOfWeek(today);
        break;
    case FolderSection::Kind::all:
    case FolderSection::Kind::list:
        return std::nullopt;
    }
    if (!lower.isValid() || !upper.isValid()) {
        return std::nullopt;
    }
    return DateRange{databaseTimestamp(lower), databaseTimestamp(upper)};
}

} // namespace lumetrove
