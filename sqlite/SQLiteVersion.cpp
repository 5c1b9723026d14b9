#include "sqlite/SQLiteVersion.h"

#include <charconv>
#include <vector>

namespace sqlite {

SQLiteVersion SQLiteVersion::parse(std::string_view text)
{
    // At most three splits; empty pieces are dropped.
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = pieces.size() < 3 ? text.find('.', start) : std::string_view::npos;
        const std::string_view piece = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        if (!piece.empty()) {
            pieces.push_back(piece);
        }
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    if (pieces.size() != 3) {
        return zero();
    }
    int numbers[3];
    for (int i = 0; i < 3; ++i) {
        const auto [end, ec] = std::from_chars(pieces[i].data(), pieces[i].data() + pieces[i].size(), numbers[i]);
        if (ec != std::errc() || end != pieces[i].data() + pieces[i].size()) {
            return zero();
        }
    }
    return {numbers[0], numbers[1], numbers[2]};
}

std::string SQLiteVersion::description() const
{
    return "SQLite " + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(point);
}

} // namespace sqlite
