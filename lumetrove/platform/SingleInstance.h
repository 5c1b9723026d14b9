#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace lumetrove {

/// Marks a launch that replaces an instance which is quitting: it waits for that instance to let go of its lock.
inline constexpr const char* relaunchArgument = "--relaunched";

/// The arguments (without the program) of a launch that replaces the one started with `arguments` (the
/// program first): its options, none of its files (the first launch took them already), and `relaunchArgument`.
QStringList relaunchArguments(const QStringList& arguments);

/// Whether `path` is a directory (not a symbolic link to one) owned by this user that no one else may enter.
bool isPrivateDirectory(const QString& path);

/// Where this user's instance lock and socket live: `$XDG_RUNTIME_DIR` when it is a private directory, else
/// "lumetrove-<uid>" in the temporary directory, made with mode 0700 when missing and then checked the same
/// way. None when neither can be trusted (another user made the fallback, or it is open to others).
std::optional<QString> privateRuntimeDirectory();

/// An exclusive advisory lock on a file, held until it is destroyed. The kernel lets go of it when the
/// process ends however it ends, so an instance that was killed leaves no stale lock behind.
class InstanceLock {
public:
    /// Takes the lock on `path` (the file is made when missing, readable by its owner only), waiting up to
    /// `waitMs` for another process to let go of it; none when it is still held then, or cannot be taken.
    static std::unique_ptr<InstanceLock> acquire(const QString& path, int waitMs = 0);

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

/// The user id of the process at the other end of the connected local socket `socketDescriptor`; none when
/// the system does not tell.
std::optional<uid_t> peerUserId(qintptr socketDescriptor);

/// Where the running instance hears of later launches: a local socket of this user's only, made anew at a path;
/// each connection's bytes come as `received` once its sender has closed it. Connections of other users are
/// refused. Main thread.
class LaunchListener : public QObject {
    Q_OBJECT

public:
    /// Listens at `path`, replacing a socket left there; none, with `error` saying why, when it cannot.
    static LaunchListener* listen(const QString& path, QObject* parent, QString& error);
    ~LaunchListener() override;

    /// Takes no more connections; those already taken still deliver.
    void close();

signals:
    void received(const QByteArray& bytes);

private:
    LaunchListener(int fd, QObject* parent);
    void acceptConnections();

    int fd_;
};

/// Hands `bytes` to the listener of this user at `path`, waiting up to `waitMs` for one to come up, each step
/// bounded by `stepMs`; false when none took them.
bool sendToLaunchListener(const QString& path, const QByteArray& bytes, int waitMs, int stepMs);

} // namespace lumetrove
