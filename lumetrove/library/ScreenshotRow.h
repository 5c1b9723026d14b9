#pragma once

#include <QMetaType>
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
    /// False when a list load left out `text`, `aiResults` and `aiAssistantResults`: a record made from the
    /// row has them once `Screenshot::loadDetails` has read them (off the main thread).
    bool detailsRead = true;
    /// The start of `text`, as long as a list row shows it: what a list load reads in its place (none when
    /// the row has a description, which the row shows instead).
    std::optional<QString> textSnippet{};

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
    /// The creation time, "yyyy-MM-dd HH:mm:ss" in UTC; none: the time of the insert.
    std::optional<QString> createdAt{};
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

/// The length of `ScreenshotRow::textSnippet`: a list row shows a few lines of the recognised text at most.
inline constexpr int screenshotTextSnippetLength = 600;

/// One edit of a screenshot row, written in one transaction (`ScreenshotsDB::updateScreenshot`). The texts are
/// written as a save writes them: an absent text clears its column, and each AI answer is written only when
/// its flag says so (a record that has not read an answer yet leaves the stored one as it is). An absent path
/// keeps the stored one; a new one records the image's move with the edit.
struct ScreenshotEdits {
    std::optional<QString> name{};
    std::optional<QString> description{};
    std::optional<QString> keywords{};
    std::optional<QString> path{};
    std::optional<QString> aiResults{};
    std::optional<QString> aiAssistantTask{};
    std::optional<QString> aiAssistantResults{};
    bool writeAIResults = true;
    bool writeAIAssistantResults = true;
    /// False: the edit leaves every text column as it is and writes only the path and the folder.
    bool writeTexts = true;
    /// The one folder the screenshot is in from now on (an empty inner value: none); absent leaves its links.
    std::optional<std::optional<qint64>> folder{};
};

} // namespace lumetrove

Q_DECLARE_METATYPE(lumetrove::ScreenshotRow)
