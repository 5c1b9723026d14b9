#include "lumetrove/platform/NotificationCenter.h"

#include "tests/lumetrove/Sandbox.h"

#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace lumetrove {
namespace {

TEST(NotificationCenterTest, MainThreadPostsReachOnlyObserversOfThatNameBeforePostReturns)
{
    QObject context;
    QStringList seen;
    NotificationCenter::defaultCenter().addObserver(QStringLiteral("takeScreenshot"), &context,
                                                    [&](const Notification& n) { seen << n.name; });
    NotificationCenter::defaultCenter().post(QStringLiteral("deleteSelectedScreenshot"));
    NotificationCenter::defaultCenter().post(QStringLiteral("takeScreenshot"));
    EXPECT_EQ(seen, QStringList{QStringLiteral("takeScreenshot")});
}

TEST(NotificationCenterTest, AnObserverGoneWithItsContextIsNeverCalled)
{
    int calls = 0;
    {
        QObject context;
        NotificationCenter::defaultCenter().addObserver(QStringLiteral("gone"), &context,
                                                        [&](const Notification&) { ++calls; });
    }
    NotificationCenter::defaultCenter().post(QStringLiteral("gone"));
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenterTest, PostsFromAnotherThreadAreDeliveredOnTheMainThread)
{
    QObject context;
    QThread* deliveredOn = nullptr;
    NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("fromWorker"), &context, [&](const Notification&) { deliveredOn = QThread::currentThread(); });
    std::unique_ptr<QThread> worker(QThread::create([] {
        NotificationCenter::defaultCenter().post(QStringLiteral("fromWorker"), {{QStringLiteral("k"), true}});
    }));
    worker->start();
    worker->wait();
    ASSERT_TRUE(testing::processEventsUntil([&] { return deliveredOn != nullptr; }));
    EXPECT_EQ(deliveredOn, QThread::currentThread());
}

TEST(NotificationCenterTest, OnlyBooleanUserInfoValuesCountAsTrue)
{
    const Notification n{QStringLiteral("takeScreenshot"),
                         {{QStringLiteral("yes"), true},
                          {QStringLiteral("no"), false},
                          {QStringLiteral("text"), QStringLiteral("true")},
                          {QStringLiteral("number"), 1}}};
    EXPECT_TRUE(n.boolValue(QStringLiteral("yes")));
    EXPECT_FALSE(n.boolValue(QStringLiteral("no")));
    EXPECT_FALSE(n.boolValue(QStringLiteral("text")));
    EXPECT_FALSE(n.boolValue(QStringLiteral("number")));
    EXPECT_FALSE(n.boolValue(QStringLiteral("missing")));
}

} // namespace
} // namespace lumetrove
