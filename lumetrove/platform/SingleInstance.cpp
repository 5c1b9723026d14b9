#include "lumetrove/platform/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumetrove {

QStringList relaunchArguments(const QStringList& arguments)
{
    QStringList options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(QLatin1Char('-')) && arguments[i] != QLatin1String(relaunchArgument)) {
            options << arguments[i];
        }
    }
    options << QString::fromLatin1(relaunchArgument);
    return options;
}

bool isPrivateDirectory(const QString& path)
{
    struct stat info {};
    // lstat: a symbolic link planted by someone else must not lead the socket into their directory.
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::optional<QString> privateRuntimeDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateDirectory(runtime)) {
        return QDir::cleanPath(runtime);
    }
    // The shared temporary directory is open to every user: the name may already be taken by another one,
    // which the check after mkdir finds out.
    const QString fallback = QDir::tempPath() + QStringLiteral("/lumetrove-") + QString::number(::geteuid());
    if (::mkdir(QFile::encodeName(fallback).constData(), S_IRWXU) != 0 && errno != EEXIST) {
        return std::nullopt;
    }
    if (!isPrivateDirectory(fallback)) {
        return std::nullopt;
    }
    return fallback;
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(const QString& path, int waitMs)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return nullptr;
    }
    QDeadlineTimer deadline(waitMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            ::close(fd);
            return nullptr;
        }
        QThread::msleep(20);
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock()
{
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

std::optional<uid_t> peerUserId(qintptr socketDescriptor)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (socketDescriptor < 0 ||
        ::getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials) {
        return std::nullopt;
    }
    return credentials.uid;
}

} // namespace lumetrove
