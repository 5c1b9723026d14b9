#pragma once

#include <QString>
#include <optional>

namespace lumetrove {

// Every member has a default, so that designated initialisers may leave any out.

/// Every stored value of one screenshot: what a list load reads of a row (off the main thread), and what a
/// `Screenshot` record is made from.
struct ScreenshotRow {
    qint64 id = 0;
    std::optional<QString> name{};
    std::optional<QString> createdAt{};
    std::optional<QString> description{};
    std::optional<QString> keywords{};
    std::optional<QString> aiResults{};
    /// The image's absolute "file://" URL text; empty for none.
    QString path{};
    std::optional<QString> text{};
    std::optional<qint64> folderId{};
    std::optional<QString> capturedAppName{};
    std::optional<QString> capturedAppBundleId{};
    bool isAIAssistantTask = false;
    std::optional<QString> aiAssistantTask{};
    std::optional<QString> aiAssistantResults{};
    bool wasImported = false;
    /// False when a list load left out `text`, `aiResults` and `aiAssistantResults`: the record reads them
    /// from the database when they are first asked for.
    bool detailsRead = true;

    friend bool operator==(const ScreenshotRow&, const ScreenshotRow&) = default;
};

/// The values of a new `screenshots` row. SQLite sets `created_at`; the AI columns start empty.
struct NewScreenshot {
    std::optional<QString> name{};
    /// The image's absolute "file://" URL text.
    QString path{};
    std::optional<QString> text{};
    std::optional<QString> capturedAppBundleId{};
    std::optional<QString> capturedAppName{};
    bool isAIAssistantTask = false;
    std::optional<QString> aiAssistantTask{};
    bool wasImported = false;
    /// The text is still to be recognised: the row is noted until `ScreenshotsDB::updateScreenshotText` stores
    /// it, so that a run that ends before then has it recognised on the next.
    bool textToCome = false;
};

/// The columns of a screenshot row that a list load leaves for later: long texts that the list does not show.
struct ScreenshotDetails {
    std::optional<QString> text{};
    std::optional<QString> aiResults{};
    std::optional<QString> aiAssistantResults{};
};

/// The editable columns of a screenshot row, as a save writes them: an absent text clears its column, an
/// absent path keeps the stored one.
struct ScreenshotEdits {
    std::optional<QString> name{};
    std::optional<QString> description{};
    std::optional<QString> keywords{};
    std::optional<QString> path{};
    std::optional<QString> aiResults{};
    std::optional<QString> aiAssistantTask{};
    std::optional<QString> aiAssistantResults{};
};

} // namespace lumetrove
