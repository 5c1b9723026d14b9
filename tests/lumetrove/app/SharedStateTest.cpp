#include "lumetrove/app/FirstLaunchChecker.h"
#include "lumetrove/app/URLHandler.h"
#include "lumetrove/platform/UserDefaults.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

TEST(URLHandlerTest, OnlyChangesArePublishedAndClearingWaitsForTheCurrentWork)
{
    URLHandler& handler = URLHandler::shared();
    EXPECT_EQ(&handler, &URLHandler::shared());
    QSignalSpy changes(&handler, &URLHandler::urlsChanged);
    const QList<QUrl> files{QUrl::fromLocalFile("/tmp/a.png"), QUrl::fromLocalFile("/tmp/b.jpg")};

    handler.setUrls(files);
    handler.setUrls(files);
    EXPECT_EQ(changes.count(), 1) << "an equal list is no change";

    handler.clearURLs();
    EXPECT_EQ(handler.urls(), files);
    QCoreApplication::processEvents();
    EXPECT_TRUE(handler.urls().isEmpty());
    EXPECT_EQ(changes.count(), 2);

    // Draining an empty list queues nothing and publishes nothing.
    handler.clearURLs();
    handler.setUrls({});
    QCoreApplication::processEvents();
    EXPECT_EQ(changes.count(), 2);
}

TEST(URLHandlerTest, ClearingLeavesAListHandedOverInTheMeantime)
{
    URLHandler& handler = URLHandler::shared();
    const QList<QUrl> first{QUrl::fromLocalFile("/tmp/first.png")};
    const QList<QUrl> second{QUrl::fromLocalFile("/tmp/second.png")};
    handler.setUrls(first);
    handler.clearURLs();
    handler.setUrls(second);
    QCoreApplication::processEvents();
    EXPECT_EQ(handler.urls(), second) << "the clearing of the first list dropped the second";
    handler.clearURLs();
    QCoreApplication::processEvents();
    EXPECT_TRUE(handler.urls().isEmpty());
}

class FirstLaunchCheckerTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::remove(UserDefaults::hasLaunchedBefore); }
    void TearDown() override { UserDefaults::remove(UserDefaults::hasLaunchedBefore); }
};

TEST_F(FirstLaunchCheckerTest, EveryLaunchIsAFirstLaunchUntilOneFindsPermission)
{
    int probes = 0;
    auto denied = [&] { return ++probes, false; };
    auto granted = [&] { return ++probes, true; };

    EXPECT_TRUE(FirstLaunchChecker(denied).isFirstLaunch());
    EXPECT_FALSE(UserDefaults::contains(UserDefaults::hasLaunchedBefore)) << "a refusal leaves the key absent";
    EXPECT_TRUE(FirstLaunchChecker(denied).isFirstLaunch());

    EXPECT_TRUE(FirstLaunchChecker(granted).isFirstLaunch()) << "the launch that finds it still counts";
    EXPECT_TRUE(UserDefaults::boolean(UserDefaults::hasLaunchedBefore));
    EXPECT_EQ(probes, 3);

    EXPECT_FALSE(FirstLaunchChecker(denied).isFirstLaunch());
    EXPECT_EQ(probes, 3) << "no window list is asked for once the key is set";
}

} // namespace
} // namespace lumetrove
