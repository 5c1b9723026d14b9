#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
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
