#pragma once

#include <cstddef>
#include <cstdint>
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
    int indexOf(std::string_view name) const;

    /// All keys sorted ascending, as error texts list them.
    std::vector<std::string> sortedKeys() const;

private:
    // Every text a lookup can succeed or fail on in a known way: each exact key (its position) and each text
    // that follows a "." at the end of some key and is not itself a key (the position when exactly one key
    // ends that way, else -1 with the matching keys, sorted, for the ambiguity error). Kept in an
    // open-addressing table with a power-of-two size, so a lookup is one hash and usually one comparison.
    struct Entry {
        std::string text;
        int index = -1;
        std::vector<std::string> candidates;
    };
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t entry = 0; // 1-based; 0 is an empty slot
    };

    static std::uint64_t hashText(std::string_view text);
    const Entry* find(std::string_view text) const;
    void insert(Entry entry);

    Map map_;
    std::vector<Entry> entries_;
    std::vector<Slot> slots_;
    std::uint64_t mask_ = 0;
};

} // namespace sqlite
