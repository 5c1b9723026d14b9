#include "lumetrove/platform/DesktopApplications.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace lumetrove {
namespace {

/// The value of `key` in the [Desktop Entry] group of a .desktop file.
std::optional<QString> desktopEntryValue(const QString& filePath, QLatin1StringView key)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return std::nullopt;
    }
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && QStringView(line).left(equals).trimmed() == key) {
            return line.mid(equals + 1).trimmed();
        }
    }
    return std::nullopt;
}

/// The file name of the program that an Exec line starts, skipping an "env VAR=value" prefix.
QString executableOfExecLine(const QString& exec)
{
    const QStringList words = QProcess::splitCommand(exec);
    qsizetype index = 0;
    if (index < words.size() && QFileInfo(words[index]).fileName() == QLatin1String("env")) {
        ++index;
        while (index < words.size() && words[index].contains(QLatin1Char('='))) {
            ++index;
        }
    }
    return index < words.size() ? QFileInfo(words[index]).fileName() : QString();
}

/// The desktop-entry id of a file below an applications directory: its relative path with "/" as "-".
QString desktopEntryId(const QString& applicationsDirectory, const QString& filePath)
{
    QString relative = QDir(applicationsDirectory).relativeFilePath(filePath);
    relative.chop(qsizetype(sizeof(".desktop") - 1));
    return relative.replace(QLatin1Char('/'), QLatin1Char('-'));
}

std::optional<QString> desktopEntryForExecutable(const QString& executable)
{
    const QStringList directories = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& directory : directories) {
        if (QFileInfo::exists(directory + QLatin1Char('/') + executable + QLatin1String(".desktop"))) {
            return executable;
        }
    }
    for (const QString& directory : directories) {
        QDirIterator it(directory, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const std::optional<QString> exec = desktopEntryValue(path, QLatin1StringView("Exec"));
            if (exec && executableOfExecLine(*exec) == executable) {
                return desktopEntryId(directory, path);
            }
        }
    }
    return std::nullopt;
}

/// The desktop file that a launcher recorded in the process's environment, when one did.
std::optional<QString> launchedDesktopFile(const QString& procDirectory)
{
    QFile file(procDirectory + QStringLiteral("/environ"));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QList<QByteArray> variables = file.readAll().split('\0');
    for (const QByteArray& prefix :
         {QByteArrayLiteral("GIO_LAUNCHED_DESKTOP_FILE="), QByteArrayLiteral("BAMF_DESKTOP_FILE_HINT=")}) {
        for (const QByteArray& variable : variables) {
            if (variable.startsWith(prefix) && variable.size() > prefix.size()) {
                const QString fileName = QFileInfo(QString::fromUtf8(variable.mid(prefix.size()))).fileName();
                if (fileName.endsWith(QLatin1String(".desktop"))) {
                    return fileName.chopped(qsizetype(sizeof(".desktop") - 1));
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> desktopEntryIdOfProcess(qint64 pid)
{
    if (pid <= 0) {
        return std::nullopt;
    }
    const QString procDirectory = QStringLiteral("/proc/%1").arg(pid);
    if (!QFileInfo(procDirectory).isDir()) {
        return std::nullopt;
    }
    if (std::optional<QString> id = launchedDesktopFile(procDirectory)) {
        return id;
    }
    QString executable = QFileInfo(QFileInfo(procDirectory + QStringLiteral("/exe")).symLinkTarget()).fileName();
    if (executable.isEmpty()) {
        QFile comm(procDirectory + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly)) {
            executable = QString::fromUtf8(comm.readAll()).trimmed();
        }
    }
    if (executable.isEmpty()) {
        return std::nullopt;
    }
    return desktopEntryForExecutable(executable);
}

std::optional<QIcon> applicationIcon(const QString& desktopEntryId)
{
    if (desktopEntryId.isEmpty() || desktopEntryId.contains(QLatin1Char('/'))) {
        return std::nullopt;
    }
    QIcon icon;
    const QString entry =
        QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopEntryId + QLatin1String(".desktop"));
    if (!entry.isEmpty()) {
        if (const std::optional<QString> name = desktopEntryValue(entry, QLatin1StringView("Icon"))) {
            if (QFileInfo(*name).isAbsolute()) {
                icon = QFileInfo::exists(*name) ? QIcon(*name) : QIcon();
            } else {
                icon = QIcon::fromTheme(*name);
            }
        }
    }
    if (icon.isNull() && QIcon::hasThemeIcon(desktopEntryId)) {
        icon = QIcon::fromTheme(desktopEntryId);
    }
    if (icon.isNull()) {
        return std::nullopt;
    }
    return icon;
}

} // namespace lumetrove
