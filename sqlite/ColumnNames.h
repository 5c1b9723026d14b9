#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sqlite {

/// The column-name map of one prepared query: the SQL text of each result column ("name", "t"."name",
/// count(*), …) mapped to its position. Built once per statement and shared by all of its rows, with the
/// search for unqualified names ("name" answering "t"."name") worked out in advance, so that reading a
/// column is one hash lookup and never a scan of the keys.
class ColumnNames {
public:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    /// Looked up by `std::string_view` without making a string.
    using Map = std::unordered_map<std::string, int, Hash, std::equal_to<>>;

    ColumnNames() = default;
    /// Takes the finished map and works out every suffix that a lookup may ask for.
    explicit ColumnNames(Map map);

    const Map& map() const { return map_; }
    bool empty() const { return map_.empty(); }
    std::size_t size() const { return map_.size(); }

    /// Position of the column whose template is `name`: the exact key, else the one key that ends with
    /// "." followed by `name`. Throws `QueryError` noSuchColumn (all keys, sorted) or ambiguousColumn
    /// (the matching keys, sorted).
    int indexOf(const std::string& name) const
    {
        const auto found = lookup_.find(name);
        if (found == lookup_.end() || found->second < 0) {
            failLookup(name);
        }
        return found->second;
    }

    /// All keys sorted ascending, as error texts list them.
    std::vector<std::string> sortedKeys() const;

private:
    [[noreturn]] void failLookup(const std::string& name) const;

    Map map_;
    // Every text a lookup can succeed on or fail on in a known way: each exact key (its position) and each text
    // that follows a "." at the end of some key and is not itself a key (the position when exactly one key ends
    // that way, else -1, with the matching keys, sorted, in `ambiguous_` for the error).
    // The standard hash, so that the library's table compares the few keys of a small map instead of hashing.
    std::unordered_map<std::string, int> lookup_;
    std::unordered_map<std::string, std::vector<std::string>> ambiguous_;
};

} // namespace sqlite
