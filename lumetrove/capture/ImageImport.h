#pragma once

#include "lumetrove/library/CapturedScreenshotInfo.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QUrl>
#include <optional>
#include <variant>

namespace lumetrove {

class NewImageJournal;

/// Reads an image file upright by its EXIF orientation; null when it cannot be read.
QImage readUprightImage(const QString& path);

/// Decodes image bytes upright by their EXIF orientation; null when they hold no readable image.
QImage decodeUprightImage(const QByteArray& bytes);

/// Turns JPEG files into PNG files.
class ImageConversion {
public:
    /// Rewrites the image file at `url` as PNG, upright by its EXIF orientation; false (and a log line) when
    /// it cannot be read or written.
    static bool convertJPGtoPNG(const QUrl& url);
};

/// An image file copied into the screenshots directory.
struct ImportedImage {
    QUrl screenshotPath;
    /// The source's name without its extension.
    QString filename;
    std::optional<QByteArray> thumbnail;
    /// The source's bytes, decoded again when the image's turn for recognition comes.
    QByteArray encoded;
};

/// Copies the PNG or JPEG file at `url` into `directory` under its own name (a JPEG as PNG, upright as it is
/// shown), or the first free name with "-1", "-2", … and ".png" appended, noted in `journal` before it is
/// written; its thumbnail is drawn at `thumbnailPixelRatio`. Or the file left out, and why. Nothing is written
/// for a file left out. Any thread.
std::variant<ImportedImage, SkippedImport> importImageFile(const QUrl& url, const QString& directory,
                                                           NewImageJournal* journal, qreal thumbnailPixelRatio);

} // namespace lumetrove
