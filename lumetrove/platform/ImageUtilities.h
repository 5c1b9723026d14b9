#pragma once

#include <QImage>
#include <QSizeF>
#include <QString>

class QImageReader;

namespace lumetrove {

// Image operations shared by the capture, the screenshot list and the AI request. Sizes are in points
// (device-independent pixels): an image's point width is its pixel width over its device pixel ratio.
// Pure functions over QImage: any thread.

/// Scales `image` down to `maxWidth` points wide, keeping its aspect ratio. An image at most that wide comes
/// back as it is (the same shared data, never enlarged); a null image comes back null.
QImage resizeImage(double maxWidth, const QImage& image);

/// The thumbnail of a screenshot: `image` shown in a frame of `frameSize` points, filling it and cut to it.
/// An image more than twice the frame in both directions is first scaled down to `thumbnailWidth` and then
/// stretched to cover the frame with its aspect ratio kept; any other image is drawn at its own size.
/// Either way it is aligned to the frame's leading (left) edge and centred vertically; what the image does
/// not cover stays transparent. The result is `frameSize` points at `devicePixelRatio`; null for a null image.
/// The capture renders every thumbnail file with 200 and 200 × 140. Any thread.
QImage renderThumbnail(const QImage& image, double thumbnailWidth = 200, QSizeF frameSize = QSizeF(200, 140),
                       qreal devicePixelRatio = 1.0);

/// The most pixels a screenshot's image may have: an import refuses a larger image before decoding it.
inline constexpr qint64 maxScreenshotPixels = 8192LL * 8192;

/// Lets `reader` decode every image of up to `maxScreenshotPixels`, in any format it decodes to. Qt's own limit
/// (128 MB) refuses a 6000 × 6000 image, which an import takes; a file that claims a larger image is still
/// refused before anything is decoded.
void allowScreenshotSizes(QImageReader& reader);

/// Reads the image file at `path`, turned as its metadata says, with `allowScreenshotSizes`; a null image when
/// it does not load. Any thread.
QImage readUprightImageFile(const QString& path);

/// Decodes a screenshot's image file ready for painting (premultiplied, turned as its metadata says); a null
/// image when it does not load. Any thread.
QImage decodeScreenshotImage(const QString& path);

/// A screenshot's image as `decodeScreenshotImage` reads it and, when there is none, why, in words for the
/// user: the file is gone (removed outside the program), cannot be opened, or holds no image that loads.
struct ScreenshotImage {
    QImage image;
    QString problem;
};
/// Reads the image file at `path` (empty: the screenshot has no file). Touches the file system: never on the
/// main thread.
ScreenshotImage readScreenshotImage(const QString& path);

/// PNG bytes of `image`; empty when it cannot be encoded.
QByteArray pngData(const QImage& image);

} // namespace lumetrove
