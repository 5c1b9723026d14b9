#include "sqlite/ColumnNames.h"

#include "sqlite/Errors.h"

#include <algorithm>
#include <map>

namespace sqlite {

ColumnNames::ColumnNames(Map map) : map_(std::move(map))
{
    // Texts that follow a "." at the end of a key: "db"."t"."c" answers "t"."c" and "c". Quotes are not looked
    // at, as the lookup rule does not look at them either.
    std::map<std::string, std::vector<const std::pair<const std::string, int>*>, std::less<>> suffixes;
    for (const auto& entry : map_) {
        const std::string& key = entry.first;
        for (std::size_t dot = key.find('.'); dot != std::string::npos; dot = key.find('.', dot + 1)) {
            auto& matches = suffixes[key.substr(dot + 1)];
            if (std::find(matches.begin(), matches.end(), &entry) == matches.end()) {
                matches.push_back(&entry);
            }
        }
    }
    lookup_.reserve(map_.size() + suffixes.size());
    for (const auto& [key, index] : map_) {
        lookup_.emplace(key, index);
    }
    for (auto& [suffix, matches] : suffixes) {
        if (map_.contains(suffix)) {
            continue; // the exact key wins
        }
        if (matches.size() == 1) {
            lookup_.emplace(suffix, matches.front()->second);
            continue;
        }
        std::vector<std::string> candidates;
        for (const auto* match : matches) {
            candidates.push_back(match->first);
        }
        std::sort(candidates.begin(), candidates.end());
        lookup_.emplace(suffix, -1);
        ambiguous_.emplace(suffix, std::move(candidates));
    }
}

void ColumnNames::failLookup(const std::string& name) const
{
    if (const auto ambiguous = ambiguous_.find(name); ambiguous != ambiguous_.end()) {
        throw QueryError::ambiguousColumn(name, ambiguous->second);
    }
    throw QueryError::noSuchColumn(name, sortedKeys());
}

std::vector<std::string> ColumnNames::sortedKeys() const
{
    std::vector<std::string> keys;
    keys.reserve(map_.size());
    for (const auto& entry : map_) {
        keys.push_back(entry.first);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace sqlite
