#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

namespace lumetrove {

/// One row of the `folders` table: a plain folder (screenshots linked by hand) or a smart folder
/// (screenshots matched by keywords). A value; equal when all five fields are equal.
struct Folder {
    qint64 id = 0;
    /// Position in the sidebar; the folder list keeps it equal to the folder's index.
    qint64 sort_order = 0;
    QString name;
    bool isSmartFolder = false;
    /// A smart folder's keywords separated by single spaces; none for a plain folder.
    std::optional<QString> keywordsFilter;

    friend bool operator==(const Folder&, const Folder&) = default;
};

/// Hash over the five fields in order (for the filter a presence marker, then the text).
size_t qHash(const Folder& folder, size_t seed = 0) noexcept;

} // namespace lumetrove

template <> struct std::hash<lumetrove::Folder> {
    std::size_t operator()(const lumetrove::Folder& folder) const noexcept { return lumetrove::qHash(folder); }
};

Q_DECLARE_METATYPE(lumetrove::Folder)
