#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumetrove::testing {

/// A test whose HOME, XDG_DATA_HOME and XDG_CONFIG_HOME point into a fresh temporary directory.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        savedHome_ = qgetenv("HOME");
        savedData_ = qgetenv("XDG_DATA_HOME");
        savedConfig_ = qgetenv("XDG_CONFIG_HOME");
        // The directories exist, as in a real session: the Trash, for one, is only used on the home's volume.
        QDir().mkpath(home());
        QDir().mkpath(dataHome());
        qputenv("HOME", home().toUtf8());
        qputenv("XDG_DATA_HOME", dataHome().toUtf8());
        qputenv("XDG_CONFIG_HOME", root_.filePath(QStringLiteral("config")).toUtf8());
    }

    void TearDown() override
    {
        qputenv("HOME", savedHome_);
        qputenv("XDG_DATA_HOME", savedData_);
        qputenv("XDG_CONFIG_HOME", savedConfig_);
    }

    QString home() const { return root_.filePath(QStringLiteral("home")); }
    QString dataHome() const { return root_.filePath(QStringLiteral("data")); }
    /// $XDG_DATA_HOME/Lumetrove
    QString libraryDirectory() const { return dataHome() + QStringLiteral("/Lumetrove"); }

private:
    QTemporaryDir root_;
    QByteArray savedHome_, savedData_, savedConfig_;
};

/// Points HOME, XDG_DATA_HOME and XDG_CONFIG_HOME of this process into `root`, where they are made, so that a
/// whole test run keeps away from the user's library and settings even where a test forgets its own sandbox.
/// False when `root` cannot be used.
inline bool useSandboxedHome(const QTemporaryDir& root)
{
    if (!root.isValid()) {
        return false;
    }
    for (const char* name : {"home", "data", "config"}) {
        QDir().mkpath(root.filePath(QString::fromLatin1(name)));
    }
    qputenv("HOME", root.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")).toUtf8());
    return true;
}

/// Makes the home, data, settings, cache and runtime directories (and `more`) of a program started in
/// `sandbox`, with `apiKey` stored in its settings as a user would have entered it.
inline void prepareProgramSandbox(const QTemporaryDir& sandbox, const QString& apiKey,
                                  std::initializer_list<const char*> more = {})
{
    ASSERT_TRUE(sandbox.isValid());
    for (const char* name : {"home", "data", "config/Lumetrove", "cache", "runtime"}) {
        ASSERT_TRUE(QDir().mkpath(sandbox.filePath(QString::fromLatin1(name))));
    }
    for (const char* name : more) {
        ASSERT_TRUE(QDir().mkpath(sandbox.filePath(QString::fromLatin1(name))));
    }
    QFile::setPermissions(sandbox.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings settings(sandbox.filePath(QStringLiteral("config/Lumetrove/Lumetrove.conf")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("OpenAIAPIKey"), apiKey);
    settings.sync();
    ASSERT_EQ(settings.status(), QSettings::NoError);
}

/// Runs the event loop until `done` holds or the time runs out; the result of the last test of `done`.
template <typename Predicate> bool processEventsUntil(Predicate done, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace lumetrove::testing
