#pragma once

#include "lumetrove/library/Folder.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

namespace lumetrove {

/// One entry of the sidebar, and the selection that filters the screenshot list: a fixed section or a
/// folder. Two sections are equal when their identifiers are equal.
class FolderSection {
public:
    enum class Kind { all = 0, today = 1, yesterday = 2, lastWeek = 3, list = 4 };

    static FolderSection all() { return FolderSection(Kind::all, std::nullopt); }
    static FolderSection today() { return FolderSection(Kind::today, std::nullopt); }
    static FolderSection yesterday() { return FolderSection(Kind::yesterday, std::nullopt); }
    static FolderSection lastWeek() { return FolderSection(Kind::lastWeek, std::nullopt); }
    static FolderSection list(Folder folder) { return FolderSection(Kind::list, std::move(folder)); }

    /// The four fixed sections, in sidebar order; never a folder.
    static QList<FolderSection> allCases();

    Kind kind() const { return kind_; }
    /// The folder of a `list` section; none for the fixed sections.
    const std::optional<Folder>& folder() const { return folder_; }

    /// "all", "today", "yesterday", "lastweek", or the folder's id in decimal digits.
    QString id() const;

    friend bool operator==(const FolderSection& a, const FolderSection& b) { return a.id() == b.id(); }

private:
    FolderSection(Kind kind, std::optional<Folder> folder) : kind_(kind), folder_(std::move(folder)) {}

    Kind kind_;
    std::optional<Folder> folder_;
};

/// Hash of the case number and, for a folder, the folder's five fields. Equal `list` sections whose
/// folders differ in other fields than the id hash differently; compare sections with ==.
size_t qHash(const FolderSection& section, size_t seed = 0) noexcept;

} // namespace lumetrove

template <> struct std::hash<lumetrove::FolderSection> {
    std::size_t operator()(const lumetrove::FolderSection& section) const noexcept { return lumetrove::qHash(section); }
};

Q_DECLARE_METATYPE(lumetrove::FolderSection)
