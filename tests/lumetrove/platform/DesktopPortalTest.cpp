#include "lumetrove/platform/DesktopImage.h"
#include "lumetrove/platform/DesktopSession.h"
#include "lumetrove/platform/PortalScreenshot.h"
#include "tests/lumetrove/FakePortal.h"
#include "tests/lumetrove/Sandbox.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

using testing::FakeScreenshotPortal;
using testing::PrivateBus;
using testing::processEventsUntil;
using Status = PortalScreenshotOutcome::Status;

TEST(DesktopSessionTest, AWaylandSessionIsToldByEitherVariableAndTakesThePortalOnWindowingPlatformsOnly)
{
    EXPECT_TRUE(isWaylandSession("wayland-0", ""));
    EXPECT_TRUE(isWaylandSession("", "wayland"));
    EXPECT_TRUE(isWaylandSession("wayland-1", "x11"));
    EXPECT_FALSE(isWaylandSession("", "x11"));
    EXPECT_FALSE(isWaylandSession("", ""));
    EXPECT_FALSE(isWaylandSession("", "tty"));

    // Qt on its wayland plugin or through XWayland: both see only what the portal shows them.
    EXPECT_TRUE(capturesThroughPortal(true, QStringLiteral("wayland")));
    EXPECT_TRUE(capturesThroughPortal(true, QStringLiteral("wayland-egl")));
    EXPECT_TRUE(capturesThroughPortal(true, QStringLiteral("xcb")));
    EXPECT_FALSE(capturesThroughPortal(true, QStringLiteral("offscreen")));
    EXPECT_FALSE(capturesThroughPortal(false, QStringLiteral("xcb")));
}

/// A desktop image as the portal makes it for a 200 x 100 screen at scale 1 beside a 100 x 50 screen at scale
/// 2 (logical sizes): 600 x 200 pixels, every logical unit 2 x 2 pixels. Each logical unit of the first screen
/// is one colour, enlarged; the second has its own pixels, different in each of its 2 x 2.
QImage twoScaleDesktop()
{
    QImage image(600, 200, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 600; ++x) {
            if (x < 400) {
                image.setPixel(x, y, qRgb((x / 2) % 256, (y / 2) % 256, 40));
            } else if (y < 100) {
                image.setPixel(x, y, qRgb(x % 256, y, 200));
            }
        }
    }
    return image;
}

const std::vector<ScreenLayout> twoScaleScreens{{QRect(0, 0, 200, 100), 1}, {QRect(200, 0, 100, 50), 2}};

TEST(DesktopImageTest, ASelectionIsCutAtTheHighestScaleOfTheScreensItTouches)
{
    const DesktopImage desktop(twoScaleDesktop(), twoScaleScreens);
    EXPECT_EQ(desktop.layout(), QRect(0, 0, 300, 100));
    EXPECT_DOUBLE_EQ(desktop.scale(), 2.0);

    // Across both screens: the scale-2 screen's own pixels, the other's enlarged ones, exactly as in the image.
    const QImage across = desktop.grab(QRectF(150, 10, 100, 30));
    ASSERT_EQ(across.size(), QSize(200, 60));
    EXPECT_DOUBLE_EQ(across.devicePixelRatio(), 2.0);
    for (const QPoint& p : {QPoint(0, 0), QPoint(99, 59), QPoint(100, 0), QPoint(101, 1), QPoint(199, 59)}) {
        SCOPED_TRACE(p.x());
        EXPECT_EQ(across.pixel(p), twoScaleDesktop().pixel(p + QPoint(300, 20)));
    }

    // On the scale-2 screen alone: its pixels one for one.
    const QImage sharp = desktop.grab(QRectF(210, 5, 20, 10));
    ASSERT_EQ(sharp.size(), QSize(40, 20));
    EXPECT_EQ(sharp.pixel(1, 1), twoScaleDesktop().pixel(421, 11));
    EXPECT_EQ(sharp.pixel(39, 19), twoScaleDesktop().pixel(459, 29));

    // On the scale-1 screen alone: back to that screen's own pixels, one per logical unit.
    const QImage plain = desktop.grab(QRectF(10, 20, 50, 40));
    ASSERT_EQ(plain.size(), QSize(50, 40));
    EXPECT_DOUBLE_EQ(plain.devicePixelRatio(), 1.0);
    EXPECT_EQ(plain.pixel(0, 0), qRgb(10, 20, 40));
    EXPECT_EQ(plain.pixel(49, 39), qRgb(59, 59, 40));
}

TEST(DesktopImageTest, ScreensOfUnknownScaleKeepTheImagesOwnPixels)
{
    // As a program through XWayland sees the desktop: every screen's ratio unknown.
    const DesktopImage desktop(twoScaleDesktop(), {{QRect(0, 0, 200, 100), 0}, {QRect(200, 0, 100, 50), 0}});

    // The scale-2 screen: its pixels one for one, not shrunk to one per logical unit.
    const QImage sharp = desktop.grab(QRectF(210, 5, 20, 10));
    ASSERT_EQ(sharp.size(), QSize(40, 20));
    EXPECT_DOUBLE_EQ(sharp.devicePixelRatio(), 2.0);
    EXPECT_EQ(sharp.pixel(1, 1), twoScaleDesktop().pixel(421, 11));
    EXPECT_EQ(sharp.pixel(39, 19), twoScaleDesktop().pixel(459, 29));

    // The scale-1 screen: as the image enlarged it, since nothing tells it apart.
    const QImage plain = desktop.grab(QRectF(10, 20, 50, 40));
    ASSERT_EQ(plain.size(), QSize(100, 80));
    EXPECT_EQ(plain.pixel(1, 1), qRgb(10, 20, 40));
    EXPECT_EQ(plain.pixel(99, 79), qRgb(59, 59, 40));

    // One screen known at 1, the other unknown: a selection touching both takes the image's scale.
    const DesktopImage mixed(twoScaleDesktop(), {{QRect(0, 0, 200, 100), 1}, {QRect(200, 0, 100, 50), 0}});
    EXPECT_EQ(mixed.grab(QRectF(150, 10, 100, 30)).size(), QSize(200, 60));
    EXPECT_EQ(mixed.grab(QRectF(10, 20, 50, 40)).size(), QSize(50, 40));
}

TEST(DesktopImageTest, WhatLiesOnNoScreenIsBlackAndASelectionOnNoScreenGivesNothing)
{
    const DesktopImage desktop(twoScaleDesktop(), twoScaleScreens);
    // Below the smaller screen the image is transparent: the grab is opaque black there.
    const QImage below = desktop.grab(QRectF(220, 40, 20, 20));
    ASSERT_EQ(below.size(), QSize(40, 40));
    EXPECT_EQ(below.pixel(5, 5), twoScaleDesktop().pixel(445, 85));
    EXPECT_EQ(below.pixel(5, 30), qRgb(0, 0, 0));
    EXPECT_TRUE(desktop.grab(QRectF(400, 0, 10, 10)).isNull());
    EXPECT_TRUE(desktop.grab(QRectF(20, 20, 0, 10)).isNull());
    EXPECT_TRUE(DesktopImage(QImage(), twoScaleScreens).grab(QRectF(0, 0, 10, 10)).isNull());

    // An overlay shows its screen's part, at the image's scale.
    const QImage second = desktop.part(QRect(200, 0, 100, 50));
    ASSERT_EQ(second.size(), QSize(200, 100));
    EXPECT_EQ(second.pixel(7, 9), twoScaleDesktop().pixel(407, 9));
}

TEST(DesktopImageTest, ALayoutThatDoesNotStartAtTheOriginIsCountedFromItsCorner)
{
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(10, 20, qRgb(255, 0, 0));
    const DesktopImage desktop(image, {{QRect(-100, -50, 100, 50), 2}});
    const QImage grabbed = desktop.grab(QRectF(-95, -40, 5, 5));
    ASSERT_EQ(grabbed.size(), QSize(10, 10));
    EXPECT_EQ(grabbed.pixel(0, 0), qRgb(255, 0, 0));
}

class PortalScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(bus_.address().isEmpty()) << "no private bus (dbus-daemon)"; }

    /// Asks the portal on the private bus; the outcome once it has come.
    std::optional<PortalScreenshotOutcome> take()
    {
        std::optional<PortalScreenshotOutcome> outcome;
        QObject context;
        PortalScreenshotRequest::take(client_, &context,
                                      [&](const PortalScreenshotOutcome& answer) { outcome = answer; });
        processEventsUntil([&] { return outcome.has_value(); });
        return outcome;
    }

    PrivateBus bus_;
    QDBusConnection client_ = bus_.connect(QStringLiteral("portal-client"));
};

TEST_F(PortalScreenshotTest, AGrantedRequestHandsOverThePortalsImageAndRemovesItsFile)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("Screenshot from the portal.png"));
    QImage desktop(64, 32, QImage::Format_RGB32);
    desktop.fill(qRgb(20, 40, 60));
    desktop.setPixel(3, 5, qRgb(250, 0, 0));
    ASSERT_TRUE(desktop.save(path));
    FakeScreenshotPortal portal(bus_.connect(QStringLiteral("portal")), 0,
                                {{QStringLiteral("uri"), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)}});
    ASSERT_TRUE(portal.serve());

    const std::optional<PortalScreenshotOutcome> outcome = take();
    ASSERT_TRUE(outcome);
    ASSERT_EQ(outcome->status, Status::taken) << outcome->detail.toStdString();
    EXPECT_EQ(outcome->image.convertToFormat(QImage::Format_RGB32), desktop);
    EXPECT_FALSE(QFile::exists(path));
    // Asked once, without asking the user to pick an area, on a path of its own token.
    EXPECT_EQ(portal.requests, 1);
    EXPECT_EQ(portal.lastOptions.value(QStringLiteral("interactive")), QVariant(false));
    EXPECT_FALSE(portal.lastOptions.value(QStringLiteral("handle_token")).toString().isEmpty());
}

TEST_F(PortalScreenshotTest, EachAnswerOtherThanAReadableImageIsARefusalOrUnavailable)
{
    struct Case {
        const char* what;
        std::optional<uint> response; ///< none: no portal on the bus
        bool screenshotInterface;
        QVariantMap results;
        Status expected;
    };
    const std::vector<Case> cases{
        {"refused by the user", 1u, true, {}, Status::refused},
        {"any other answer", 2u, true, {}, Status::unavailable},
        {"no portal", std::nullopt, true, {}, Status::unavailable},
        {"a portal without screenshots", 0u, false, {}, Status::unavailable},
        {"granted without a file", 0u, true, {}, Status::unavailable},
        {"granted with a file that is gone",
         0u,
         true,
         {{QStringLiteral("uri"), QStringLiteral("file:///nonexistent/lumetrove-portal.png")}},
         Status::unavailable},
        {"granted with a remote file",
         0u,
         true,
         {{QStringLiteral("uri"), QStringLiteral("https://example.invalid/shot.png")}},
         Status::unavailable},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<FakeScreenshotPortal> portal;
        if (c.response) {
            portal = std::make_unique<FakeScreenshotPortal>(bus_.connect(QStringLiteral("portal-%1").arg(index++)),
                                                            *c.response, c.results);
            ASSERT_TRUE(portal->serve(c.screenshotInterface));
        }
        const std::optional<PortalScreenshotOutcome> outcome = take();
        ASSERT_TRUE(outcome) << "no answer came";
        EXPECT_EQ(outcome->status, c.expected);
        EXPECT_TRUE(outcome->image.isNull());
        if (portal) {
            portal->leave();
        }
    }
}

TEST_F(PortalScreenshotTest, APortalThatLeavesTheBusBeforeAnsweringEndsTheRequest)
{
    FakeScreenshotPortal portal(bus_.connect(QStringLiteral("portal")), 0);
    portal.answers = false;
    ASSERT_TRUE(portal.serve());
    std::optional<PortalScreenshotOutcome> outcome;
    QObject context;
    PortalScreenshotRequest::take(client_, &context, [&](const PortalScreenshotOutcome& answer) { outcome = answer; });
    ASSERT_TRUE(processEventsUntil([&] { return portal.requests == 1; }));
    processEventsUntil([] { return false; }, 100);
    EXPECT_FALSE(outcome) << "answered before the portal did";
    portal.leave();
    ASSERT_TRUE(processEventsUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(outcome->status, Status::unavailable);
}

TEST(PortalRequestPathTest, TheUniqueNameLosesItsColonAndItsDotsBecomeUnderscores)
{
    EXPECT_EQ(portalRequestPath(QStringLiteral(":1.42"), QStringLiteral("shot7")),
              QStringLiteral("/org/freedesktop/portal/desktop/request/1_42/shot7"));
}

} // namespace
} // namespace lumetrove
