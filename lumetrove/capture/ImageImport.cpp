#include "lumetrove/capture/ImageImport.h"

#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/NewImageJournal.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/Log.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumetrove {
namespace {

// What an import accepts: a file no larger than this, holding an image of no more pixels than this (a photo
// of a large camera fits; a few bytes that claim a huge image are refused before anything is decoded).
constexpr qint64 maxImportBytes = 256LL * 1024 * 1024;

/// A source file read whole and decoded: its bytes, their format ("png" or "jpeg") and the upright image.
struct ImportSource {
    QByteArray bytes;
    QByteArray format;
    QImage image;
};

QString couldNotRead(int error)
{
    return QStringLiteral("it could not be read (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
}

/// The whole content of the regular file at `path`, or why it cannot be had. Opened without waiting: a FIFO
/// or a device named like an image never blocks the import.
std::variant<QByteArray, QString> readRegularFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return couldNotRead(errno);
    }
    const auto failed = [fd](QString reason) {
        ::close(fd);
        return std::variant<QByteArray, QString>(std::move(reason));
    };
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return failed(QStringLiteral("it is not a regular file"));
    }
    if (status.st_size == 0) {
        return failed(QStringLiteral("it is empty"));
    }
    if (status.st_size > maxImportBytes) {
        return failed(QStringLiteral("it is too large (%1 MB)").arg(status.st_size / (1024 * 1024)));
    }
    QByteArray bytes(static_cast<qsizetype>(status.st_size), Qt::Uninitialized);
    qsizetype read = 0;
    while (read < bytes.size()) {
        const ssize_t step = ::read(fd, bytes.data() + read, static_cast<size_t>(bytes.size() - read));
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step < 0) {
            return failed(couldNotRead(errno));
        }
        if (step == 0) {
            break; // the file shrank meanwhile: what was read is checked by the decoder
        }
        read += step;
    }
    ::close(fd);
    bytes.truncate(read);
    return bytes;
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return quint32(static_cast<unsigned char>(bytes[at + i])); };
    return (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
}

/// A PNG stream whose chunks run whole up to its end chunk. A cut-short file may still decode, with the
/// missing rows left blank.
bool pngComplete(const QByteArray& bytes)
{
    for (qsizetype at = 8; at + 8 <= bytes.size();) {
        const qint64 next = qint64(at) + 12 + bigEndian32(bytes, at);
        if (next > bytes.size()) {
            return false;
        }
        if (bytes.mid(at + 4, 4) == "IEND") {
            return true;
        }
        at = static_cast<qsizetype>(next);
    }
    return false;
}

/// A JPEG stream whose last scan is followed by its end marker. The decoder pads a cut-short scan with grey
/// and calls that a success. Inside a scan a 0xFF byte is always escaped, so the marker cannot occur there.
bool jpegComplete(const QByteArray& bytes)
{
    const qsizetype lastScan = bytes.lastIndexOf(QByteArrayView("\xFF\xDA", 2));
    return lastScan >= 0 && bytes.indexOf(QByteArrayView("\xFF\xD9", 2), lastScan) >= 0;
}

/// Reads and decodes the file at `path`, or says why it cannot become a screenshot.
std::variant<ImportSource, QString> readImportSource(const QString& path)
{
    std::variant<QByteArray, QString> read = readRegularFile(path);
    if (QString* reason = std::get_if<QString>(&read)) {
        return std::move(*reason);
    }
    QByteArray bytes = std::get<QByteArray>(std::move(read));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    if (format != "png" && format != "jpeg") {
        return QStringLiteral("it is not a PNG or JPEG image");
    }
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > maxScreenshotPixels) {
        return QStringLiteral("the image is too large (%1 × %2 pixels)").arg(size.width()).arg(size.height());
    }
    if (format == "png" ? !pngComplete(bytes) : !jpegComplete(bytes)) {
        return QStringLiteral("the image is incomplete (the file is cut short)");
    }
    reader.setAutoTransform(true);
    reader.setAllocationLimit(0); // the size was checked above
    QImage image = reader.read();
    if (image.isNull()) {
        return QStringLiteral("the image could not be decoded (%1)").arg(reader.errorString());
    }
    buffer.close();
    return ImportSource{std::move(bytes), format, std::move(image)};
}

/// Writes `bytes` under the first free name for the source `info` in `directory`, noted in `journal`: the
/// file written, or the error's description.
std::variant<QUrl, QString> saveUnderFreeName(const QFileInfo& info, bool jpeg, const QString& directory,
                                              const QByteArray& bytes, NewImageJournal* journal)
{
    // The name a screenshot's file takes: a source named at the file system's limit would leave no room for
    // the partial file written first, or for a number after a collision.
    const QString base = screenshotFileBaseName(info.completeBaseName());
    const bool ownName = !jpeg && base == info.completeBaseName();
    for (int n = 0;; ++n) {
        const QString name = n == 0 ? (ownName ? info.fileName() : base + QStringLiteral(".png"))
                                    : base + QLatin1Char('-') + QString::number(n) + QStringLiteral(".png");
        const QString target = directory + QLatin1Char('/') + name;
        if (entryExists(target)) {
            continue;
        }
        const std::optional<QString> error = writeNewImage(journal, target, bytes, info.completeBaseName(), true);
        if (!error) {
            return QUrl::fromLocalFile(target);
        }
        if (!entryExists(target)) {
            return *error;
        }
        // Another capture or import took the name meanwhile: the next one.
    }
}

/// Writes `image` as a PNG file, all or nothing: a failed write leaves no partial file. The error's
/// description, or none on success.
std::optional<QString> writePng(const QImage& image, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        file.cancelWriting();
        return writer.errorString();
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

} // namespace

QImage readUprightImage(const QString& path)
{
    return readUprightImageFile(path);
}

QImage decodeUprightImage(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(0);
    return reader.read();
}

bool ImageConversion::convertJPGtoPNG(const QUrl& url)
{
    const QImage image = readUprightImageFile(url.toLocalFile());
    if (image.isNull()) {
        systemLog(QStringLiteral("convertJPGtoPNG: Failed to load the image at ") + url.toString());
        return false;
    }
    if (const std::optional<QString> error = writePng(image, url.toLocalFile())) {
        systemLog(QStringLiteral("convertJPGtoPNG: Failed to write png data to ") + url.toString() +
                  QStringLiteral(": ") + *error);
        return false;
    }
    return true;
}

std::variant<ImportedImage, SkippedImport> importImageFile(const QUrl& url, const QString& directory,
                                                           NewImageJournal* journal, qreal thumbnailPixelRatio)
{
    const QString source = url.toLocalFile();
    const QFileInfo info(source);
    const auto skip = [&](QString reason) {
        return SkippedImport{info.fileName().isEmpty() ? url.toDisplayString() : info.fileName(), std::move(reason)};
    };
    const QString extension = info.suffix().toLower();
    const bool jpegName = extension == QLatin1String("jpg") || extension == QLatin1String("jpeg");
    if (!url.isLocalFile() || (!jpegName && extension != QLatin1String("png"))) {
        systemLog(QStringLiteral("Only JPG or PNG are supported for import"));
        return skip(QStringLiteral("only PNG and JPEG files can be imported"));
    }
    // A name whose bytes are no UTF-8 text reaches the program with them replaced: it names no file at all.
    if (source.contains(QChar::ReplacementCharacter) && !entryExists(source)) {
        return skip(QStringLiteral("its name is not valid text (UTF-8), so it cannot be opened; rename the file and "
                                   "import it again"));
    }
    std::variant<ImportSource, QString> read = readImportSource(source);
    if (const QString* reason = std::get_if<QString>(&read)) {
        systemLog(QStringLiteral("Skipping ") + source + QStringLiteral(": ") + *reason);
        return skip(*reason);
    }
    ImportSource& image = std::get<ImportSource>(read);
    // A PNG file is copied as it is; a JPEG becomes a PNG file, upright as it is shown.
    const QByteArray bytes = image.format == "png" ? image.bytes : pngData(image.image);
    if (bytes.isEmpty()) {
        return skip(QStringLiteral("it could not be converted to PNG"));
    }
    const std::variant<QUrl, QString> saved = saveUnderFreeName(info, jpegName, directory, bytes, journal);
    if (const QString* error = std::get_if<QString>(&saved)) {
        systemLog(QStringLiteral("Error copying in performCaptureFromFileURLs: ") + *error);
        return skip(QStringLiteral("it could not be saved (%1)").arg(*error));
    }
    ImportedImage imported{std::get<QUrl>(saved), info.completeBaseName(), std::nullopt, std::move(image.bytes)};
    const QByteArray thumbnail = pngData(renderThumbnail(image.image, 200, QSizeF(200, 140), thumbnailPixelRatio));
    if (!thumbnail.isEmpty()) {
        imported.thumbnail = thumbnail;
    }
    return imported;
}

} // namespace lumetrove
