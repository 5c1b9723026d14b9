#include "lumetrove/platform/ImageUtilities.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <cmath>

namespace lumetrove {

QImage resizeImage(double maxWidth, const QImage& image)
{
    const QSizeF size = image.deviceIndependentSize();
    if (image.isNull() || size.width() <= maxWidth) {
        return image;
    }
    const double ratio = maxWidth / size.width();
    const qreal dpr = image.devicePixelRatio();
    const QSize pixels(std::max(1, qRound(maxWidth * dpr)), std::max(1, qRound(size.height() * ratio * dpr)));
    QImage result(pixels, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    result.setDevicePixelRatio(dpr);
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(maxWidth, size.height() * ratio)), image);
    return result;
}

void allowScreenshotSizes(QImageReader& reader)
{
    // Eight bytes a pixel: a PNG of 16 bits a channel decodes to 64-bit pixels.
    reader.setAllocationLimit(static_cast<int>(maxScreenshotPixels * 8 / (1024 * 1024)));
}

QImage readUprightImageFile(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    allowScreenshotSizes(reader);
    return reader.read();
}

QImage decodeScreenshotImage(const QString& path)
{
    QImage image = readUprightImageFile(path);
    if (image.isNull()) {
        return image;
    }
    // Converted here, off the main thread, so that painting never converts a 4K image. In place: the
    // decoded pixels are reused (for an opaque screen only the format changes), where a converted copy
    // would take a second full-size buffer (33 MB for 4K) whose fresh memory costs more than the decode.
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

ScreenshotImage readScreenshotImage(const QString& path)
{
    if (path.isEmpty()) {
        return {{}, QStringLiteral("The screenshot has no image file.")};
    }
    ScreenshotImage read{decodeScreenshotImage(path), {}};
    if (!read.image.isNull()) {
        return read;
    }
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.exists()) {
        read.problem = QStringLiteral("The image file “%1” is missing.").arg(name);
    } else if (!file.open(QIODevice::ReadOnly)) {
        read.problem = QStringLiteral("The image file “%1” could not be read (%2).").arg(name, file.errorString());
    } else {
        read.problem = QStringLiteral("The image file “%1” holds no image that can be read.").arg(name);
    }
    return read;
}

QImage renderThumbnail(const QImage& image, double thumbnailWidth, QSizeF frameSize, qreal devicePixelRatio)
{
    if (image.isNull() || frameSize.isEmpty()) {
        return {};
    }
    const QSize pixels(qCeil(frameSize.width() * devicePixelRatio), qCeil(frameSize.height() * devicePixelRatio));
    QImage thumbnail(pixels, QImage::Format_ARGB32_Premultiplied);
    thumbnail.setDevicePixelRatio(devicePixelRatio);
    thumbnail.fill(Qt::transparent);

    const QSizeF size = image.deviceIndependentSize();
    QImage shown = image;
    QSizeF shownSize = size;
    // Huge captures are scaled down before they are drawn; images near the frame's size are drawn as they are.
    if (2 * frameSize.width() < size.width() && 2 * frameSize.height() < size.height()) {
        shown = resizeImage(thumbnailWidth, image);
        const QSizeF scaled = shown.deviceIndependentSize();
        const double cover = std::max(frameSize.width() / scaled.width(), frameSize.height() / scaled.height());
        shownSize = scaled * cover;
    }
    const QRectF target(QPointF(0, (frameSize.height() - shownSize.height()) / 2), shownSize);

    QPainter painter(&thumbnail);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(QRectF(QPointF(0, 0), frameSize));
    painter.drawImage(target, shown);
    return thumbnail;
}

QByteArray pngData(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        return {};
    }
    return bytes;
}

} // namespace lumetrove
