#pragma once

#include <QString>
#include <optional>

namespace lumetrove {

/// The model's answer about one screenshot, read from the JSON object it was asked to return:
/// {"name", "keywords", "description"} (required texts) and "aiAssistantResults", "aiAssistantTask" (optional
/// texts). Other keys are ignored; the limits asked of the model are not enforced.
struct ScreenshotInfoResult {
    /// The suggested name, as the model wrote it.
    QString _name;
    /// The keyword text as the model wrote it; see `normalizedKeywords`.
    QString _keywords;
    QString description;
    /// The whole answer text; empty after decoding, set by the analysis.
    QString aiRawResult;
    std::optional<QString> aiAssistantResults;
    /// The assistant task as the model reworded it for display.
    std::optional<QString> aiAssistantTask;

    /// The keywords as the application stores them: the words between blanks (tabs and line breaks do not
    /// split) that have at least two characters and are not a 64-bit decimal integer, lowercased, joined by
    /// single blanks.
    QString normalizedKeywords() const;

    /// All six fields, texts by Unicode canonical equivalence; `aiRawResult` too.
    friend bool operator==(const ScreenshotInfoResult& a, const ScreenshotInfoResult& b);
};

/// Decodes the answer text (UTF-8 JSON). Throws aiclient::DecodingError; text that is not JSON is data corrupted.
ScreenshotInfoResult decodeScreenshotInfoResult(const QString& text);

} // namespace lumetrove
