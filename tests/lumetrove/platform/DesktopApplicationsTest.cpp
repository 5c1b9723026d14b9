#include "lumetrove/platform/DesktopApplications.h"

#include "tests/lumetrove/Sandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

class DesktopApplicationsTest : public testing::SandboxTest {
protected:
    void writeDesktopEntry(const QString& relativePath, const QByteArray& body)
    {
        const QString path = dataHome() + "/applications/" + relativePath;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body);
    }
};

TEST_F(DesktopApplicationsTest, NoProcessGivesNone)
{
    EXPECT_FALSE(desktopEntryIdOfProcess(0));
    EXPECT_FALSE(desktopEntryIdOfProcess(-4));
    EXPECT_FALSE(desktopEntryIdOfProcess(999999999));
}

TEST_F(DesktopApplicationsTest, AProcessWithoutDesktopEntryHasNone)
{
    EXPECT_EQ(desktopEntryIdOfProcess(QCoreApplication::applicationPid()), std::nullopt);
}

TEST_F(DesktopApplicationsTest, TheEntryNamedAfterTheExecutableGivesTheId)
{
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    writeDesktopEntry(executable + ".desktop", "[Desktop Entry]\nExec=something-else\n");
    EXPECT_EQ(desktopEntryIdOfProcess(QCoreApplication::applicationPid()), executable);
}

TEST_F(DesktopApplicationsTest, TheEntryWhoseExecLineNamesTheExecutableGivesTheId)
{
    const QByteArray exec = QCoreApplication::applicationFilePath().toUtf8();
    writeDesktopEntry("vendor/tester.desktop", "[Desktop Action x]\nExec=other\n");
    writeDesktopEntry("org.example.Other.desktop", "[Desktop Entry]\nExec=/usr/bin/other %u\n");
    writeDesktopEntry("org.example.Tests.desktop", "[Desktop Entry]\nName=Tests\nExec=env A=1 " + exec + " %F\n");
    EXPECT_EQ(desktopEntryIdOfProcess(QCoreApplication::applicationPid()), "org.example.Tests");
}

TEST_F(DesktopApplicationsTest, TheDesktopFileRecordedByTheLauncherWins)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("GIO_LAUNCHED_DESKTOP_FILE", "/usr/share/applications/org.example.Editor.desktop");
    child.setProcessEnvironment(environment);
    child.start("sleep", {"30"});
    ASSERT_TRUE(child.waitForStarted());
    // QProcess reports the start once the exec succeeded, but the kernel lays out the new program's
    // environment a moment later: until then /proc/<pid>/environ reads empty.
    ASSERT_TRUE(testing::processEventsUntil([&] {
        QFile file(QStringLiteral("/proc/%1/environ").arg(child.processId()));
        return file.open(QIODevice::ReadOnly) && !file.readAll().isEmpty();
    }));
    EXPECT_EQ(desktopEntryIdOfProcess(child.processId()), "org.example.Editor");
    child.kill();
    child.waitForFinished();
}

TEST_F(DesktopApplicationsTest, IconComesFromTheEntrysIconKey)
{
    const QString iconPath = dataHome() + "/editor.png";
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(QDir().mkpath(dataHome()));
    ASSERT_TRUE(image.save(iconPath));
    writeDesktopEntry("org.example.Editor.desktop", "[Desktop Entry]\nIcon=" + iconPath.toUtf8() + "\n");

    const std::optional<QIcon> icon = applicationIcon("org.example.Editor");
    ASSERT_TRUE(icon);
    EXPECT_FALSE(icon->pixmap(16, 16).isNull());
}

TEST_F(DesktopApplicationsTest, UnknownApplicationsHaveNoIcon)
{
    EXPECT_FALSE(applicationIcon("org.example.Missing"));
    EXPECT_FALSE(applicationIcon(""));
    EXPECT_FALSE(applicationIcon("../escape"));
}

} // namespace
} // namespace lumetrove
