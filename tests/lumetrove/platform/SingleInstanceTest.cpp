#include "lumetrove/platform/SingleInstance.h"

#include "tests/lumetrove/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace lumetrove {
namespace {

/// Sets an environment variable for one test, or unsets it, and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, std::optional<QByteArray> value)
        : name_(name), old_(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~ScopedEnvironment() { old_ ? qputenv(name_, *old_) : qunsetenv(name_); }

private:
    const char* name_;
    std::optional<QByteArray> old_;
};

class PrivateRuntimeDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(temporary.isValid()); }

    QString makeDirectory(const QString& name, mode_t mode) const
    {
        const QString path = temporary.filePath(name);
        EXPECT_TRUE(QDir().mkpath(path));
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    }

    QString fallback() const { return temporary.filePath(QStringLiteral("lumetrove-%1").arg(::geteuid())); }

    QTemporaryDir temporary;
};

TEST_F(PrivateRuntimeDirectoryTest, OnlyADirectoryOfThisUserClosedToOthersIsPrivate)
{
    EXPECT_TRUE(isPrivateDirectory(makeDirectory(QStringLiteral("closed"), 0700)));
    EXPECT_FALSE(isPrivateDirectory(makeDirectory(QStringLiteral("readable"), 0750)));
    EXPECT_FALSE(isPrivateDirectory(makeDirectory(QStringLiteral("shared"), 01777)));
    EXPECT_FALSE(isPrivateDirectory(temporary.filePath(QStringLiteral("missing"))));
    ASSERT_TRUE(QFile::link(temporary.filePath(QStringLiteral("closed")), temporary.filePath(QStringLiteral("link"))));
    EXPECT_FALSE(isPrivateDirectory(temporary.filePath(QStringLiteral("link")))) << "a link may lead anywhere";
    const QString other = makeDirectory(QStringLiteral("other"), 0700);
    if (::geteuid() == 0 && ::chown(QFile::encodeName(other).constData(), 65534, 65534) == 0) {
        EXPECT_FALSE(isPrivateDirectory(other)) << "a directory of another user";
    }
}

TEST_F(PrivateRuntimeDirectoryTest, WithoutAUsableRuntimeDirectoryAPrivateOneIsMadeAndAnotherUsersIsRefused)
{
    const ScopedEnvironment tmp("TMPDIR", temporary.path().toUtf8());
    {
        const QString runtime = makeDirectory(QStringLiteral("runtime"), 0700);
        const ScopedEnvironment xdg("XDG_RUNTIME_DIR", runtime.toUtf8());
        EXPECT_EQ(privateRuntimeDirectory(), runtime);
    }
    {
        // Unset, or open to others: the fallback in the temporary directory, made closed to others.
        const ScopedEnvironment xdg("XDG_RUNTIME_DIR", std::nullopt);
        EXPECT_EQ(privateRuntimeDirectory(), fallback());
        EXPECT_TRUE(isPrivateDirectory(fallback()));
        const ScopedEnvironment open("XDG_RUNTIME_DIR", makeDirectory(QStringLiteral("open"), 0777).toUtf8());
        EXPECT_EQ(privateRuntimeDirectory(), fallback());
    }
    const ScopedEnvironment xdg("XDG_RUNTIME_DIR", std::nullopt);
    // Someone made the fallback open to all before this user: it is not used.
    ::chmod(QFile::encodeName(fallback()).constData(), 0777);
    EXPECT_EQ(privateRuntimeDirectory(), std::nullopt);
    if (::geteuid() == 0) {
        // Another user took the name: not used either, whatever its mode.
        ::chmod(QFile::encodeName(fallback()).constData(), 0700);
        ASSERT_EQ(::chown(QFile::encodeName(fallback()).constData(), 65534, 65534), 0);
        EXPECT_EQ(privateRuntimeDirectory(), std::nullopt);
    }
}

TEST(InstanceLockTest, OneHolderAtATimeAndAWaiterGetsItWhenLetGo)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString path = directory.filePath(QStringLiteral("instance.lock"));
    auto first = InstanceLock::acquire(path);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
    EXPECT_EQ(InstanceLock::acquire(path), nullptr) << "a second holder";
    EXPECT_EQ(InstanceLock::acquire(path, 100), nullptr) << "a second holder after waiting";

    // A waiter takes it once the holder lets go, within its wait.
    auto waiter = std::async(std::launch::async, [&] { return InstanceLock::acquire(path, 20000) != nullptr; });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    first.reset();
    EXPECT_TRUE(waiter.get());
    EXPECT_NE(InstanceLock::acquire(path), nullptr);
}

TEST(InstanceLockTest, ALockFileThatIsALinkIsNotFollowed)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString target = directory.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QFile::link(target, directory.filePath(QStringLiteral("instance.lock"))));
    EXPECT_EQ(InstanceLock::acquire(directory.filePath(QStringLiteral("instance.lock"))), nullptr);
    EXPECT_FALSE(QFile::exists(target));
}

TEST(PeerUserIdTest, AConnectedSocketTellsItsPeersUser)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_EQ(peerUserId(pair[0]), ::geteuid());
    ::close(pair[0]);
    ::close(pair[1]);
    EXPECT_EQ(peerUserId(-1), std::nullopt);
}

TEST(LaunchListenerTest, EachLaunchsBytesArriveWholeAndALeftOverSocketIsReplaced)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString path = directory.filePath(QStringLiteral("instance"));
    // What a killed instance leaves behind: a socket file nobody listens on.
    {
        QString error;
        std::unique_ptr<LaunchListener> killed(LaunchListener::listen(path, nullptr, error));
        ASSERT_NE(killed, nullptr) << error.toStdString();
    }
    ASSERT_TRUE(QFile::exists(path));
    QString error;
    std::unique_ptr<LaunchListener> listener(LaunchListener::listen(path, nullptr, error));
    ASSERT_NE(listener, nullptr) << error.toStdString();
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0077, 0u) << "only its owner may connect";
    std::vector<QByteArray> received;
    QObject::connect(listener.get(), &LaunchListener::received,
                     [&received](const QByteArray& bytes) { received.push_back(bytes); });

    // Larger than a socket's buffer, so that it comes in many reads; two senders at once.
    QByteArray large(3 * 1024 * 1024, 'a');
    for (qsizetype i = 0; i < large.size(); i += 4096) {
        large[i] = char('a' + (i / 4096) % 26);
    }
    const QByteArray small("file:///small.png");
    auto sentLarge = std::async(std::launch::async, [&] { return sendToLaunchListener(path, large, 2000, 2000); });
    auto sentSmall = std::async(std::launch::async, [&] { return sendToLaunchListener(path, small, 2000, 2000); });
    ASSERT_TRUE(testing::processEventsUntil([&] { return received.size() == 2; }));
    EXPECT_TRUE(sentLarge.get());
    EXPECT_TRUE(sentSmall.get());
    std::sort(received.begin(), received.end(),
              [](const QByteArray& a, const QByteArray& b) { return a.size() < b.size(); });
    EXPECT_EQ(received[0], small);
    EXPECT_TRUE(received[1] == large) << "received " << received[1].size() << " of " << large.size() << " bytes";

    // Closed, it takes no more launches, and a sender that finds no listener says so.
    listener->close();
    EXPECT_FALSE(sendToLaunchListener(path, small, 200, 200));
    EXPECT_FALSE(sendToLaunchListener(directory.filePath(QStringLiteral("nobody")), small, 0, 200));
}

TEST(RelaunchArgumentsTest, ARelaunchKeepsTheOptionsAndDropsTheFiles)
{
    EXPECT_EQ(relaunchArguments({"lumetrove", "--verbose", "/tmp/a.png", "b.jpg"}),
              (QStringList{"--verbose", "--relaunched"}));
    EXPECT_EQ(relaunchArguments({"lumetrove", "--relaunched", "/tmp/a.png"}), QStringList{"--relaunched"})
        << "marked once";
}

} // namespace
} // namespace lumetrove
