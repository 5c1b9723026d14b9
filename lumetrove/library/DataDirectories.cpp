#include "lumetrove/library/DataDirectories.h"

#include "lumetrove/platform/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace lumetrove {
namespace {

/// Creates the directory, readable by its owner only, with its missing parents (made as any other program
/// would make them); the error's description on failure.
std::optional<QString> createDirectory(const QString& path)
{
    const std::filesystem::path directory(path.toStdString());
    std::error_code error;
    std::filesystem::create_directories(directory.parent_path(), error);
    // A concurrent caller may have made it between our test and our creation: that is success too.
    if (::mkdir(directory.c_str(), S_IRWXU) != 0 && !QFileInfo(path).isDir()) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    return std::nullopt;
}

/// Gives every entry below `directory` (not following links) owner-only permissions: 0700 for directories,
/// 0600 for everything else; the directory itself last, for it tells that the work is done.
void restrictTreeToOwner(const std::filesystem::path& directory)
{
    std::error_code error;
    for (auto entry = std::filesystem::recursive_directory_iterator(directory, error);
         !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
        const std::filesystem::file_status status = entry->symlink_status(error);
        if (error) {
            break;
        }
        if (std::filesystem::is_directory(status)) {
            ::chmod(entry->path().c_str(), S_IRWXU);
        } else if (std::filesystem::is_regular_file(status)) {
            ::chmod(entry->path().c_str(), S_IRUSR | S_IWUSR);
        }
    }
    if (error) {
        printLine(QStringLiteral("Could not restrict the library to its owner: ") +
                  QString::fromStdString(error.message()));
        return;
    }
    ::chmod(directory.c_str(), S_IRWXU);
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

void restrictDataDirectoryToOwner()
{
    const std::optional<QString> base = appDataDirectory();
    if (!base) {
        return;
    }
    struct stat status {};
    if (::lstat(QFile::encodeName(*base).constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        (status.st_mode & (S_IRWXG | S_IRWXO)) == 0) {
        return; // made by this program, or tightened before
    }
    restrictTreeToOwner(std::filesystem::path(base->toStdString()));
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
