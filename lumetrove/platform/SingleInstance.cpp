#include "lumetrove/platform/SingleInstance.h"

#include "lumetrove/platform/Log.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
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

namespace {

/// The address of the local socket at `path`; none when the path does not fit in one.
std::optional<sockaddr_un> localAddress(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || std::size_t(name.size()) >= sizeof address.sun_path) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    return address;
}

} // namespace

LaunchListener* LaunchListener::listen(const QString& path, QObject* parent, QString& error)
{
    const std::optional<sockaddr_un> address = localAddress(path);
    if (!address) {
        error = QStringLiteral("the socket path is too long");
        return nullptr;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    const QByteArray name = QFile::encodeName(path);
    ::unlink(name.constData());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
        ::chmod(name.constData(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    return new LaunchListener(fd, parent);
}

LaunchListener::LaunchListener(int fd, QObject* parent) : QObject(parent), fd_(fd)
{
    auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &LaunchListener::acceptConnections);
}

LaunchListener::~LaunchListener()
{
    close();
}

void LaunchListener::close()
{
    if (fd_ < 0) {
        return;
    }
    // The notifier goes first: it may not watch a closed descriptor.
    for (QSocketNotifier* notifier : findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly)) {
        if (notifier->socket() == fd_) {
            delete notifier;
        }
    }
    ::close(fd_);
    fd_ = -1;
}

void LaunchListener::acceptConnections()
{
    for (;;) {
        const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // none waits now
        }
        if (peerUserId(connection) != ::geteuid()) {
            systemLog(QStringLiteral("Refused a launch of another user"));
            ::close(connection);
            continue;
        }
        auto* reader = new QSocketNotifier(connection, QSocketNotifier::Read, this);
        auto bytes = std::make_shared<QByteArray>();
        connect(reader, &QSocketNotifier::activated, this, [this, reader, connection, bytes] {
            char chunk[4096];
            for (;;) {
                const ssize_t read = ::read(connection, chunk, sizeof chunk);
                if (read > 0) {
                    bytes->append(chunk, read);
                } else if (read < 0 && errno == EINTR) {
                    continue;
                } else if (read < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    return; // more to come
                } else {
                    break; // the sender closed the connection (or it broke): what came is all there is
                }
            }
            delete reader;
            ::close(connection);
            emit received(*bytes);
        });
    }
}

bool sendToLaunchListener(const QString& path, const QByteArray& bytes, int waitMs, int stepMs)
{
    const std::optional<sockaddr_un> address = localAddress(path);
    if (!address) {
        return false;
    }
    QDeadlineTimer deadline(waitMs);
    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        const timeval step{stepMs / 1000, (stepMs % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &step, sizeof step);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0) {
            break;
        }
        ::close(fd);
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(50);
    }
    // The listener must be this user's own instance: the file list goes to nobody else.
    if (peerUserId(fd) != ::geteuid()) {
        systemLog(QStringLiteral("The instance socket belongs to another user: no files handed over"));
        ::close(fd);
        return false;
    }
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.constData() + written, std::size_t(bytes.size() - written), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            break;
        }
        written += sent;
    }
    ::close(fd);
    return written == bytes.size();
}

} // namespace lumetrove
