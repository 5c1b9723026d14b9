#include "aiclient/EventStreamParser.h"

#include <cstdint>
#include <vector>

namespace aiclient {

namespace {

constexpr std::string_view dataMarker = "data:";

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

/// Checks `bytes` as UTF-8. Returns the length of the valid prefix when what follows it is only the
/// unfinished start of a valid character, `bytes.size()` when all is valid, and npos when anything is invalid.
size_t validUtf8Length(std::string_view bytes)
{
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length = 0;
        std::uint8_t secondLow = 0x80, secondHigh = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                secondLow = 0xA0; // no overlong forms
            } else if (lead == 0xED) {
                secondHigh = 0x9F; // no surrogates
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                secondLow = 0x90;
            } else if (lead == 0xF4) {
                secondHigh = 0x8F; // nothing above U+10FFFF
            }
        } else {
            return std::string_view::npos;
        }
        for (size_t k = 1; k < length; ++k) {
            if (i + k >= n) {
                return i; // an unfinished character ends the bytes
            }
            const auto byte = static_cast<std::uint8_t>(bytes[i + k]);
            const std::uint8_t low = k == 1 ? secondLow : 0x80;
            const std::uint8_t high = k == 1 ? secondHigh : 0xBF;
            if (byte < low || byte > high) {
                return std::string_view::npos;
            }
        }
        i += length;
    }
    return n;
}

struct Piece {
    std::string text; ///< trimmed
    size_t rawStart;  ///< where the piece, with its "data:", starts in the processed text
};

/// Cuts `text` at every "data:" that starts a line (or starts the text, after leading white space).
std::vector<Piece> cutPieces(const std::string& text)
{
    size_t firstNonSpace = 0;
    while (firstNonSpace < text.size() && isSpace(text[firstNonSpace])) {
        ++firstNonSpace;
    }
    std::vector<size_t> markers;
    for (size_t pos = text.find(dataMarker); pos != std::string::npos; pos = text.find(dataMarker, pos + 1)) {
        if (pos == firstNonSpace || text[pos - 1] == '\n' || text[pos - 1] == '\r') {
            markers.push_back(pos);
        }
    }
    std::vector<Piece> pieces;
    auto addPiece = [&](size_t rawStart, size_t contentStart, size_t end) {
        auto content = trim(std::string_view(text).substr(contentStart, end - contentStart));
        if (!content.empty()) {
            pieces.push_back(Piece{std::string(content), rawStart});
        }
    };
    // Text before the first marker is a piece too: an error object sent without any "data:".
    addPiece(0, 0, markers.empty() ? text.size() : markers.front());
    for (size_t m = 0; m < markers.size(); ++m) {
        const size_t end = m + 1 < markers.size() ? markers[m + 1] : text.size();
        addPiece(markers[m], markers[m] + dataMarker.size(), end);
    }
    return pieces;
}

} // namespace

EventStreamParser::EventStreamParser(std::string completionMarker) : completionMarker_(std::move(completionMarker))
{}

EventStreamParser::FeedOutcome EventStreamParser::feed(std::string_view bytes, const PieceHandler& handler)
{
    if (bytes.empty()) {
        return FeedOutcome::processed;
    }
    std::string joined = keptBytes_;
    joined.append(bytes);
    size_t valid = validUtf8Length(joined);
    FeedOutcome outcome = FeedOutcome::processed;
    if (valid == std::string_view::npos) {
        // Only this delivery could have finished the character kept from the previous one, so that character is
        // lost either way; keeping it would make every later delivery invalid too.
        const bool onlyKeptCharacterBroken = !keptBytes_.empty() && validUtf8Length(bytes) != std::string_view::npos;
        keptBytes_.clear();
        if (!onlyKeptCharacterBroken) {
            return FeedOutcome::invalidText;
        }
        // This delivery is sound on its own (it does not start inside a character): use it without the broken one.
        joined.assign(bytes);
        valid = validUtf8Length(joined);
        outcome = FeedOutcome::invalidText;
    }
    keptBytes_ = joined.substr(valid);
    if (valid == 0) {
        return outcome;
    }
    joined.resize(valid);
    const std::string text = withoutComments(joined);
    if (!text.empty()) {
        process(keptText_ + text, handler, false);
    }
    return outcome;
}

EventStreamParser::FeedOutcome EventStreamParser::finish(const PieceHandler& handler)
{
    if (!keptText_.empty()) {
        const std::string text = std::move(keptText_);
        keptText_.clear();
        process(text, handler, true);
    }
    const bool unfinishedCharacter = !keptBytes_.empty();
    keptBytes_.clear();
    atLineStart_ = true;
    insideComment_ = false;
    return unfinishedCharacter ? FeedOutcome::invalidText : FeedOutcome::processed;
}

std::string EventStreamParser::withoutComments(std::string_view text)
{
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        const bool lineBreak = c == '\n' || c == '\r';
        if (insideComment_) {
            insideComment_ = !lineBreak;
        } else if (atLineStart_ && c == ':') {
            insideComment_ = true;
            continue;
        }
        if (!insideComment_) {
            kept += c;
        }
        atLineStart_ = lineBreak;
    }
    return kept;
}

void EventStreamParser::process(const std::string& text, const PieceHandler& handler, bool streamEnded)
{
    const std::vector<Piece> pieces = cutPieces(text);
    keptText_.clear();
    if (pieces.empty() || pieces.front().text == completionMarker_) {
        return;
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        if (piece.text == completionMarker_) {
            continue;
        }
        const bool isLast = !streamEnded && i + 1 == pieces.size();
        if (handler(piece.text, isLast) == PieceOutcome::awaitingMore && isLast) {
            // Keep the raw text, "data:" and all, so that the next delivery continues it exactly.
            keptText_ = text.substr(piece.rawStart);
        }
    }
}

} // namespace aiclient
