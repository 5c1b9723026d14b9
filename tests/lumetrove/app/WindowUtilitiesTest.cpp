#include "lumetrove/app/WindowUtilities.h"

#include "tests/lumetrove/Sandbox.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <gmock/gmock.h>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;

TEST(WindowAccessorTest, ReportsEachNewWindowOnce)
{
    QWidget first;
    QWidget second;
    auto* holder = new QWidget;
    std::vector<QWidget*> reported;
    auto* accessor = new WindowAccessor([&](QWidget* window) { reported.push_back(window); });
    EXPECT_EQ(accessor->currentWindow(), nullptr);

    accessor->setParent(holder); // a holder without a parent is a window of its own
    holder->setParent(&first);
    holder->setParent(&first);
    holder->setParent(&second);
    accessor->setParent(nullptr);
    EXPECT_THAT(reported, ElementsAre(holder, &first, &second, nullptr));
    delete accessor;
    delete holder;
}

TEST(WindowCenteringTest, CentresAWindowEachTimeItIsShownUntilStopped)
{
    QWidget window;
    window.resize(200, 100);
    window.move(0, 0);
    window.show();
    WindowCentering::centerWhenShown(&window);
    EXPECT_EQ(WindowCentering::centeredWindow(), nullptr) << "a window already shown waits for its next showing";

    window.hide();
    window.show();
    const QPoint screenCentre = window.screen()->availableGeometry().center();
    EXPECT_EQ(WindowCentering::centeredWindow(), &window);
    EXPECT_LE((window.frameGeometry().center() - screenCentre).manhattanLength(), 2);

    WindowCentering::centerWhenShown(nullptr);
    EXPECT_EQ(WindowCentering::centeredWindow(), nullptr);
    window.hide();
    window.move(0, 0);
    window.show();
    EXPECT_EQ(WindowCentering::centeredWindow(), nullptr);
    EXPECT_EQ(window.pos(), QPoint(0, 0));
}

TEST(NoInsetHostingViewTest, TheHostedViewFillsTheWholeFrame)
{
    auto* label = new QLabel(QStringLiteral("thumbnail"));
    NoInsetHostingView host(label);
    host.resize(480, 300);
    host.show();
    EXPECT_EQ(label->geometry(), QRect(0, 0, 480, 300));
}

} // namespace
} // namespace lumetrove
