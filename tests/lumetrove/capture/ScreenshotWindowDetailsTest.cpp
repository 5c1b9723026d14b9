#include "lumetrove/capture/ScreenshotWindowDetails.h"

#include <gtest/gtest.h>

namespace lumetrove {
namespace {

WindowRecord window(quint32 id, QRect frame, qint64 pid, QString className)
{
    WindowRecord record;
    record.id = id;
    record.frame = frame;
    record.pid = pid;
    record.className = std::move(className);
    record.title = QStringLiteral("title");
    record.desktop = 0;
    return record;
}

const std::vector<ScreenGeometry> oneScreen{{QRect(0, 0, 1600, 1000), QRect(0, 0, 1600, 1000), 1}};

TEST(ScreenshotWindowDetailsTest, KeepsOtherApplicationsVisibleWindowsOnTheCurrentDesktopFrontFirst)
{
    WindowStack stack;
    stack.currentDesktop = 1;
    stack.frontToBack = {
        window(1, {0, 0, 100, 100}, 10, QStringLiteral("Firefox")),
        window(2, {0, 0, 100, 100}, 4242, QStringLiteral("Whatever")), // our own process
        window(3, {0, 0, 100, 100}, 11, QStringLiteral("Lumetrove")),  // our name, another instance
        window(4, {0, 0, 100, 100}, 12, QStringLiteral("Panel")),
        window(5, {0, 0, 100, 100}, 13, QStringLiteral("Minimised")),
        window(6, {0, 0, 100, 100}, 14, QStringLiteral("Elsewhere")),
        window(7, {0, 0, 100, 100}, 15, QStringLiteral("Sticky")),
        window(8, {0, 0, 100, 100}, 16, QStringLiteral("Terminal")),
    };
    stack.frontToBack[0].desktop = 1;
    stack.frontToBack[3].normalOrDialog = false;
    stack.frontToBack[4].hidden = true;
    stack.frontToBack[4].desktop = 1;
    stack.frontToBack[5].desktop = 2;
    stack.frontToBack[6].desktop = WindowRecord::allDesktops;
    stack.frontToBack[7].desktop = std::nullopt;
    stack.frontToBack[7].pid = std::nullopt; // no owner recorded: still a window

    const std::vector<WindowDetails> windows = onScreenWindows(stack, 4242, oneScreen);
    std::vector<QString> names;
    for (const WindowDetails& details : windows) {
        names.push_back(details.applicationName.value_or(QString()));
        EXPECT_FALSE(details.aiAssistantTask);
    }
    EXPECT_EQ(names,
              (std::vector<QString>{QStringLiteral("Firefox"), QStringLiteral("Sticky"), QStringLiteral("Terminal")}));
    EXPECT_EQ(windows[0].applicationOwnerPID, 10);
    EXPECT_EQ(windows[2].applicationOwnerPID, std::nullopt);
}

TEST(ScreenshotWindowDetailsTest, FindsTheFrontMostWindowContainingThePoint)
{
    const std::vector<WindowDetails> windows{
        WindowDetails{QRectF(100, 100, 200, 100), QStringLiteral("front"), 1, std::nullopt},
        WindowDetails{std::nullopt, QStringLiteral("no frame"), 2, std::nullopt},
        WindowDetails{QRectF(0, 0, 1000, 800), QStringLiteral("back"), 3, std::nullopt},
    };
    struct Case {
        QPointF point;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {{150, 150}, QStringLiteral("front")},
        {{100, 100}, QStringLiteral("front")}, // left and top edges inside
        {{300, 150}, QStringLiteral("back")},
        {{150, 200}, QStringLiteral("back")}, // right and bottom outside
        {{999.5, 10}, QStringLiteral("back")},
        {{1000, 10}, std::nullopt},
        {{-1, 5}, std::nullopt},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testing::Message() << testCase.point.x() << "," << testCase.point.y());
        const std::optional<WindowDetails> found = windowDetailsAtPoint(windows, testCase.point);
        EXPECT_EQ(found ? found->applicationName : std::nullopt, testCase.expected);
    }
}

TEST(ScreenshotWindowDetailsTest, FramesAreMappedToLogicalCoordinatesByTheirScreen)
{
    // A 2x screen on the left and a 1x screen to its right; the second starts at 1600 physical pixels,
    // which is 800 logical ones.
    const std::vector<ScreenGeometry> screens{{QRect(0, 0, 1600, 1000), QRect(0, 0, 800, 500), 2},
                                              {QRect(1600, 0, 1024, 768), QRect(800, 0, 1024, 768), 1}};
    EXPECT_EQ(nativeToLogical(QRect(200, 100, 400, 300), screens), QRectF(100, 50, 200, 150));
    EXPECT_EQ(nativeToLogical(QRect(1700, 10, 300, 200), screens), QRectF(900, 10, 300, 200));
    WindowRecord record = window(9, QRect(1700, 10, 300, 200), 77, QStringLiteral("Editor"));
    EXPECT_EQ(initFromWindowInfo(record, screens).frame, QRectF(900, 10, 300, 200));
}

} // namespace
} // namespace lumetrove
