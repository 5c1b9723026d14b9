#include "lumetrove/library/FileOperations.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumetrove {
namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

/// The copy for a move across file systems: the target is created with O_EXCL, which fails on any existing
/// entry (a dangling link too) instead of following it, so the bytes land in a new file or nowhere.
std::optional<QString> copyThenRemove(const QString& from, const QString& to)
{
    struct stat source {};
    if (::lstat(QFile::encodeName(from).constData(), &source) != 0) {
        return errorText(errno);
    }
    if (!S_ISREG(source.st_mode)) {
        return QStringLiteral("\"%1\" is not a regular file").arg(from);
    }
    QFile input(from);
    if (!input.open(QIODevice::ReadOnly)) {
        return input.errorString();
    }
    QFile output(to);
    if (!output.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner)) {
        return output.errorString();
    }
    const QByteArray bytes = input.readAll();
    if (input.error() != QFileDevice::NoError || output.write(bytes) != bytes.size() || !output.flush()) {
        const QString error = output.error() != QFileDevice::NoError ? output.errorString() : input.errorString();
        output.close();
        output.remove();
        return error;
    }
    output.close();
    if (!input.remove()) {
        const QString error = input.errorString();
        output.remove(); // the image stays once, where it was
        return error;
    }
    return std::nullopt;
}

} // namespace

QString partialFilePath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return path.left(slash + 1) + QLatin1Char('.') + path.mid(slash + 1) + QStringLiteral(".part");
}

std::optional<QString> writeNewFile(const QString& path, const QByteArray& bytes)
{
    const QString partial = partialFilePath(path);
    const QByteArray partialName = QFile::encodeName(partial);
    // A partial file is only ever left by a run that was killed while writing it.
    ::unlink(partialName.constData());
    const int fd = ::open(partialName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return errorText(errno);
    }
    qsizetype written = 0;
    int error = 0;
    while (written < bytes.size()) {
        const ssize_t step = ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (step < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        written += step;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(partialName.constData());
        return errorText(error);
    }
    if (const std::optional<QString> moveError = moveWithoutReplacing(partial, path)) {
        ::unlink(partialName.constData());
        return moveError;
    }
    return std::nullopt;
}

std::optional<QString> restrictFileToOwner(const QString& path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return errorText(errno);
    }
    struct stat status {};
    std::optional<QString> error;
    if (::fstat(descriptor, &status) != 0) {
        error = errorText(errno);
    } else if (S_ISREG(status.st_mode) && ::fchmod(descriptor, S_IRUSR | S_IWUSR) != 0) {
        error = errorText(errno);
    }
    ::close(descriptor);
    return error;
}

bool entryExists(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

std::optional<QString> moveWithoutReplacing(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) {
        return std::nullopt;
    }
    const int renameError = errno;
    if (renameError == EXDEV) {
        return copyThenRemove(from, to);
    }
    if (renameError != EINVAL && renameError != ENOSYS) {
        return errorText(renameError);
    }
    // A file system without RENAME_NOREPLACE: a hard link refuses an existing target just as well, and links
    // the entry itself, never what a link points to.
    if (::link(source.constData(), target.constData()) != 0) {
        return errorText(errno);
    }
    if (::unlink(source.constData()) != 0) {
        const int unlinkError = errno;
        ::unlink(target.constData());
        return errorText(unlinkError);
    }
    return std::nullopt;
}

} // namespace lumetrove
