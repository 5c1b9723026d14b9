#pragma once

#include "lumetrove/library/WindowDetails.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace lumetrove {

/// What a capture or an import hands back for one saved image.
struct CapturedScreenshotInfo {
    /// The file's name: with its ".png" extension for a grabbed screenshot, without extension for an import.
    QString screenshotFilename;
    /// The saved file's URL as absolute, percent-encoded "file://" text (not a plain path).
    QString screenshotPath;
    /// The recognised lines joined by line feeds; empty when nothing was recognised.
    QString recognizedText;
    /// PNG data of the rendered thumbnail; none when rendering failed.
    std::optional<QByteArray> thumbnail;
    /// The capture's window details at the time the record was built.
    std::optional<WindowDetails> windowDetails;
    /// The text while it is still being recognised: the record is handed on as soon as its image is saved,
    /// with `recognizedText` empty, and this gives the text when recognition is done (empty when it failed).
    /// None when `recognizedText` is already the whole text.
    std::optional<QFuture<QString>> pendingRecognizedText{};
    /// A grab's creation time ("yyyy-MM-dd HH:mm:ss", UTC), when its file is already named after the default
    /// name of that time: its row is inserted with that time and name, and neither is changed after.
    std::optional<QString> createdAt{};

    /// Equal records hold the same values; a pending text counts only by whether there is one.
    friend bool operator==(const CapturedScreenshotInfo& a, const CapturedScreenshotInfo& b)
    {
        return a.screenshotFilename == b.screenshotFilename && a.screenshotPath == b.screenshotPath &&
               a.recognizedText == b.recognizedText && a.thumbnail == b.thumbnail &&
               a.windowDetails == b.windowDetails && a.createdAt == b.createdAt &&
               a.pendingRecognizedText.has_value() == b.pendingRecognizedText.has_value();
    }
};

/// A file that an import left out, and why, in words for the user.
struct SkippedImport {
    /// The file's name as the user knows it (its last path component).
    QString fileName;
    QString reason;

    friend bool operator==(const SkippedImport&, const SkippedImport&) = default;
};

/// Told the files that an import left out, once per import with at least one, on the main thread.
using SkippedImportsHandler = std::function<void(const QList<SkippedImport>& skipped)>;

/// Told each file of an import as soon as it is done, in order, on the main thread: its record once its image
/// is stored (its text still to come), or none for a file left out.
using ImportStepHandler = std::function<void(const std::optional<CapturedScreenshotInfo>& stored)>;

} // namespace lumetrove
