#pragma once

#include "lumetrove/capture/WindowDetails.h"

#include <QByteArray>
#include <QString>
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

    friend bool operator==(const CapturedScreenshotInfo&, const CapturedScreenshotInfo&) = default;
};

} // namespace lumetrove
