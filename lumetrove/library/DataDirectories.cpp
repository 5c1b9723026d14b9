#include "lumetrove/library/DataDirectories.h"

#include "lumetrove/platform/Log.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

namespace lumetrove {
namespace {

/// Creates the directory with its missing parents; the error's description on failure.
std::optional<QString> createDirectory(const QString& path)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path.toStdString()), error);
    // A concurrent caller may have made it between our test and our creation: that is success too.
    if (error && !QFileInfo(path).isDir()) {
        return QString::fromStdString(error.message());
    }
    return std::nullopt;
}

std::optional<QString> subdirectory(const QString& name, const QString& failureLine)
{
    const std::optional<QString> base = appDataDirectory();
    if (!base) {
        printLine(QStringLiteral("Could not locate the app's data directory."));
        return std::nullopt;
    }
    const QString path = *base + QLatin1Char('/') + name;
    if (QFileInfo::exists(path)) {
        return path;
    }
    if (const std::optional<QString> error = createDirectory(path)) {
        printLine(failureLine + *error);
        return std::nullopt;
    }
    return path;
}

} // namespace

std::optional<QString> appDataDirectory()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty()) {
        printLine(QStringLiteral("Failed to locate the Application Support directory."));
        return std::nullopt;
    }
    const QString path = dataHome + QStringLiteral("/Lumetrove");
    if (QFileInfo::exists(path)) {
        return path;
    }
    if (const std::optional<QString> error = createDirectory(path)) {
        printLine(QStringLiteral("Failed to create the application data directory: ") + *error);
        return std::nullopt;
    }
    printLine(QStringLiteral("Created the application data directory at ") + path);
    return path;
}

std::optional<QString> databaseFilePath()
{
    const std::optional<QString> base = appDataDirectory();
    if (!base) {
        printLine(QStringLiteral("Could not locate the app's data directory."));
        return std::nullopt;
    }
    return *base + QStringLiteral("/db.sqlite3");
}

std::optional<QString> screenshotsDirectory()
{
    return subdirectory(QStringLiteral("Screenshots"), QStringLiteral("Could not create Screenshots directory: "));
}

std::optional<QString> thumbnailsDirectory()
{
    return subdirectory(QStringLiteral("Thumbnails"), QStringLiteral("Could not create Thumbnails directory: "));
}

QString thumbnailFileName(qint64 screenshotId)
{
    return QStringLiteral("thumbnail-%1.png").arg(screenshotId);
}

std::optional<QString> thumbnailFilePath(qint64 screenshotId)
{
    const std::optional<QString> directory = thumbnailsDirectory();
    if (!directory) {
        return std::nullopt;
    }
    return *directory + QLatin1Char('/') + thumbnailFileName(screenshotId);
}

} // namespace lumetrove
