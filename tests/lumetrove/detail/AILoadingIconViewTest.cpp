#include "lumetrove/detail/AILoadingIconView.h"

#include "tests/lumetrove/Sandbox.h"

#include <gtest/gtest.h>

namespace lumetrove {
namespace {

TEST(AILoadingIconViewTest, CirclesFadeInTurnAfterAppearing)
{
    AILoadingIconView indicator(Qt::gray);
    indicator.resize(50, 20);
    const auto& circles = indicator.circles();
    EXPECT_EQ(circles[0]->delay(), 0.1);
    EXPECT_EQ(circles[1]->delay(), 0.2);
    EXPECT_EQ(circles[2]->delay(), 0.4);
    for (LoadingCircle* circle : circles) {
        EXPECT_EQ(circle->opacity(), 0.3);
        EXPECT_FALSE(circle->isPulsing());
    }

    indicator.show();
    for (LoadingCircle* circle : circles) {
        EXPECT_FALSE(circle->isAnimating()) << "flipped once on appearing";
        EXPECT_TRUE(circle->isPulsing());
    }
    // Blue has started to fade before red, whose delay is longest.
    ASSERT_TRUE(testing::processEventsUntil([&] { return circles[0]->opacity() > 0.3; }, 2000));
    EXPECT_EQ(circles[2]->opacity(), 0.3);
    ASSERT_TRUE(testing::processEventsUntil([&] { return circles[2]->opacity() == 0.7; }, 3000));
}

TEST(AILoadingIconViewTest, TimersStopWhileHiddenAndStartAgainWhenShown)
{
    AILoadingIconView indicator(Qt::gray);
    indicator.show();
    const auto circles = indicator.circles();
    ASSERT_TRUE(circles[1]->isPulsing());

    indicator.hide();
    for (LoadingCircle* circle : circles) {
        EXPECT_FALSE(circle->isPulsing());
    }
    const bool flipped = circles[1]->isAnimating();
    testing::processEventsUntil([] { return false; }, LoadingCircle::pulseIntervalMs + 200);
    EXPECT_EQ(circles[1]->isAnimating(), flipped) << "a hidden indicator does not pulse";

    indicator.show();
    EXPECT_TRUE(circles[1]->isPulsing()) << "pulses again when shown again";
}

} // namespace
} // namespace lumetrove
