#include "sqlite/ColumnNames.h"

#include "sqlite/Errors.h"

#include <algorithm>
#include <array>
#include <cstring>
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
    std::size_t capacity = 8;
    while (capacity < 2 * (map_.size() + suffixes.size())) {
        capacity *= 2;
    }
    slots_.resize(capacity);
    mask_ = capacity - 1;
    entries_.reserve(map_.size() + suffixes.size());
    for (const auto& [key, index] : map_) {
        insert(Entry{key, index, {}});
    }
    for (auto& [suffix, matches] : suffixes) {
        if (map_.contains(suffix)) {
            continue; // the exact key wins
        }
        if (matches.size() == 1) {
            insert(Entry{suffix, matches.front()->second, {}});
            continue;
        }
        std::vector<std::string> candidates;
        for (const auto* match : matches) {
            candidates.push_back(match->first);
        }
        std::sort(candidates.begin(), candidates.end());
        insert(Entry{suffix, -1, std::move(candidates)});
    }
}

namespace {

// Column texts are short; reading them with inline loads instead of library calls keeps a lookup to a few
// dozen instructions.
inline std::uint64_t loadWord(const char* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

/// The last `n` < 8 bytes as one word; for a given `n` different bytes give different words.
inline std::uint64_t loadTail(const char* p, std::size_t n)
{
    if (n >= 4) {
        std::uint32_t head;
        std::uint32_t tail;
        std::memcpy(&head, p, 4);
        std::memcpy(&tail, p + n - 4, 4);
        return (static_cast<std::uint64_t>(head) << 32) | tail;
    }
    if (n == 0) {
        return 0;
    }
    const auto byte = [p](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])); };
    return byte(0) | (byte(n / 2) << 8) | (byte(n - 1) << 16);
}

inline bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    std::size_t i = 0;
    for (; i + 8 <= a.size(); i += 8) {
        if (loadWord(a.data() + i) != loadWord(b.data() + i)) {
            return false;
        }
    }
    return loadTail(a.data() + i, a.size() - i) == loadTail(b.data() + i, b.size() - i);
}

} // namespace

std::uint64_t ColumnNames::hashText(std::string_view text)
{
    std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ text.size();
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        hash = (hash ^ loadWord(text.data() + i)) * 0xff51afd7ed558ccdull;
        hash ^= hash >> 32;
    }
    hash = (hash ^ loadTail(text.data() + i, text.size() - i)) * 0xc4ceb9fe1a85ec53ull;
    return hash ^ (hash >> 29);
}

void ColumnNames::insert(Entry entry)
{
    const std::uint64_t hash = hashText(entry.text);
    entries_.push_back(std::move(entry));
    for (std::uint64_t i = hash & mask_;; i = (i + 1) & mask_) {
        if (slots_[i].entry == 0) {
            slots_[i] = Slot{hash, static_cast<std::uint32_t>(entries_.size())};
            return;
        }
    }
}

const ColumnNames::Entry* ColumnNames::find(std::string_view text) const
{
    if (slots_.empty()) {
        return nullptr;
    }
    const std::uint64_t hash = hashText(text);
    for (std::uint64_t i = hash & mask_;; i = (i + 1) & mask_) {
        const Slot& slot = slots_[i];
        if (slot.entry == 0) {
            return nullptr;
        }
        if (slot.hash == hash) {
            const Entry& entry = entries_[slot.entry - 1];
            if (sameText(entry.text, text)) {
                return &entry;
            }
        }
    }
}

namespace {

// The last lookups of this thread, keyed by the address of the text asked for: a loop over rows asks for the
// same few column expressions again and again. A hit is checked against the entry's own text, so a stale slot
// (a text or a map that has gone and been replaced at the same address) is only ever a miss.
struct CachedLookup {
    const void* owner = nullptr;
    const char* data = nullptr;
    std::size_t size = 0;
    std::uint32_t entry = 0;
};
thread_local std::array<CachedLookup, 16> recentLookups;

inline CachedLookup& cacheSlot(const void* owner, const char* data)
{
    const auto key = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(data)) ^
                     static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(owner));
    return recentLookups[(key * 0x9E3779B97F4A7C15ull) >> 60];
}

} // namespace

int ColumnNames::indexOf(std::string_view name) const
{
    CachedLookup& cached = cacheSlot(this, name.data());
    const Entry* entry = nullptr;
    if (cached.owner == this && cached.data == name.data() && cached.size == name.size() &&
        cached.entry < entries_.size() && sameText(entries_[cached.entry].text, name)) {
        entry = &entries_[cached.entry];
    } else {
        entry = find(name);
        if (entry != nullptr) {
            cached = CachedLookup{this, name.data(), name.size(), static_cast<std::uint32_t>(entry - entries_.data())};
        }
    }
    if (entry == nullptr) {
        throw QueryError::noSuchColumn(std::string(name), sortedKeys());
    }
    if (entry->index < 0) {
        throw QueryError::ambiguousColumn(std::string(name), entry->candidates);
    }
    return entry->index;
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
