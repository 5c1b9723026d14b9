#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace aiclient {

/// Cuts the bytes of a server-sent event stream into pieces, one per "data:" line, whatever the sizes of the
/// deliveries: a line, the word "data:" or a UTF-8 character may be split anywhere between two of them.
/// Pure: no I/O, no threads; the caller decides what a piece means.
///
/// Each delivery is checked as UTF-8 (an unfinished character at its end waits for the next delivery), cleared of
/// comment lines (a line beginning with ":", such as the ": keep-alive" that proxies send between events, carries
/// no data), put behind the text kept from the previous one and cut at every "data:" that starts a line. Each piece is
/// trimmed; empty pieces are dropped. When the first piece is the completion marker the delivery is dropped.
/// The last piece of a delivery that the handler cannot use yet is kept, unchanged, for the next delivery.
class EventStreamParser {
public:
    /// What the handler made of a piece.
    enum class PieceOutcome {
        used,         ///< reported in some way; nothing is kept
        awaitingMore, ///< (last piece only) looks like the start of a piece still arriving: keep it
    };
    /// Called once per piece, in order; `isLast` is true for the last piece of the delivery, while more may
    /// still come. At the end of the stream every piece is passed with `isLast` false.
    using PieceHandler = std::function<PieceOutcome(const std::string& piece, bool isLast)>;

    enum class FeedOutcome {
        processed,
        /// The bytes are not UTF-8: nothing of them was used and the kept text is unchanged. Also answered when
        /// only the unfinished character kept from the previous delivery is broken (this delivery does not
        /// continue it): that character is dropped and this delivery is used on its own.
        invalidText,
    };

    explicit EventStreamParser(std::string completionMarker = "[DONE]");

    FeedOutcome feed(std::string_view bytes, const PieceHandler& handler);

    /// Ends the stream: hands every piece of the kept text to the handler as a finished piece, and answers
    /// `invalidText` when the stream stopped inside a UTF-8 character. Afterwards nothing is kept.
    FeedOutcome finish(const PieceHandler& handler);

    /// The text kept for the next delivery (a piece that may still be unfinished).
    const std::string& keptText() const { return keptText_; }
    /// Bytes of an unfinished UTF-8 character that ended the last delivery.
    const std::string& keptBytes() const { return keptBytes_; }

private:
    void process(const std::string& text, const PieceHandler& handler, bool streamEnded);
    /// `text` without its comment lines; a comment line may begin or end in another delivery.
    std::string withoutComments(std::string_view text);

    std::string completionMarker_;
    std::string keptText_;
    std::string keptBytes_;
    bool atLineStart_ = true;
    bool insideComment_ = false;
};

} // namespace aiclient
