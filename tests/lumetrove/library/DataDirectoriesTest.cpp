#include "lumetrove/library/DataDirectories.h"

#include "tests/lumetrove/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gmock/gmock.h>

namespace lumetrove {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

class DataDirectoriesTest : public testing::SandboxTest {};

TEST_F(DataDirectoriesTest, FirstCallCreatesTheDataDirectoryAndSaysSoOnce)
{
    ::testing::internal::CaptureStdout();
    const std::optional<QString> directory = appDataDirectory();
    const std::string firstOutput = ::testing::internal::GetCapturedStdout();

    ASSERT_TRUE(directory);
    EXPECT_EQ(*directory, libraryDirectory());
    EXPECT_TRUE(QFileInfo(*directory).isDir());
    EXPECT_EQ(firstOutput, "Created the application data directory at " + libraryDirectory().toStdString() + "\n");

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(appDataDirectory(), directory);
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), IsEmpty());
}

TEST_F(DataDirectoriesTest, SubdirectoriesAreMadeByTheirOwnFunctionOnly)
{
    ASSERT_TRUE(databaseFilePath());
    EXPECT_FALSE(QFileInfo::exists(libraryDirectory() + "/Screenshots"));
    EXPECT_FALSE(QFileInfo::exists(libraryDirectory() + "/Thumbnails"));

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(screenshotsDirectory(), libraryDirectory() + "/Screenshots");
    EXPECT_EQ(thumbnailsDirectory(), libraryDirectory() + "/Thumbnails");
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), IsEmpty());
    EXPECT_TRUE(QFileInfo(libraryDirectory() + "/Screenshots").isDir());
    EXPECT_TRUE(QFileInfo(libraryDirectory() + "/Thumbnails").isDir());
}

TEST_F(DataDirectoriesTest, DatabasePathNamesTheFileWithoutCreatingIt)
{
    const std::optional<QString> path = databaseFilePath();
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, libraryDirectory() + "/db.sqlite3");
    EXPECT_FALSE(QFileInfo::exists(*path));
}

TEST_F(DataDirectoriesTest, ADeletedDirectoryComesBackOnTheNextCall)
{
    const std::optional<QString> thumbnails = thumbnailsDirectory();
    ASSERT_TRUE(thumbnails);
    ASSERT_TRUE(QDir(*thumbnails).removeRecursively());
    EXPECT_EQ(thumbnailsDirectory(), thumbnails);
    EXPECT_TRUE(QFileInfo(*thumbnails).isDir());
}

TEST_F(DataDirectoriesTest, ADirectoryThatCannotBeMadeIsReportedAsNone)
{
    // A plain file where the data directory should be: its existence test passes, and nothing can be
    // made below it.
    ASSERT_TRUE(QDir().mkpath(dataHome()));
    QFile plain(libraryDirectory());
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(thumbnailsDirectory());
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("Could not create Thumbnails directory: "));
}

} // namespace
} // namespace lumetrove
