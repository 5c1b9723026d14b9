#include "lumetrove/library/Folder.h"

#include "lumetrove/library/FolderSection.h"

namespace lumetrove {

size_t qHash(const Folder& folder, size_t seed) noexcept
{
    seed = qHashMulti(seed, folder.id, folder.sort_order, folder.name, folder.isSmartFolder,
                      folder.keywordsFilter.has_value());
    return folder.keywordsFilter ? qHashMulti(seed, *folder.keywordsFilter) : seed;
}

QList<FolderSection> FolderSection::allCases()
{
    return {all(), today(), yesterday(), lastWeek()};
}

QString FolderSection::id() const
{
    switch (kind_) {
    case Kind::all:
        return QStringLiteral("all");
    case Kind::today:
        return QStringLiteral("today");
    case Kind::yesterday:
        return QStringLiteral("yesterday");
    case Kind::lastWeek:
        return QStringLiteral("lastweek");
    case Kind::list:
        return QString::number(folder_ ? folder_->id : 0);
    }
    return {};
}

size_t qHash(const FolderSection& section, size_t seed) noexcept
{
    seed = qHashMulti(seed, static_cast<int>(section.kind()));
    if (section.folder()) {
        seed = qHash(*section.folder(), seed);
    }
    return seed;
}

} // namespace lumetrove
