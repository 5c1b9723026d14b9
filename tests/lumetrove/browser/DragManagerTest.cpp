#include "lumetrove/browser/DragManager.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

using namespace lumetrove;

ScreenshotPtr screenshotWithId(qint64 id)
{
    return std::make_shared<Screenshot>(ScreenshotRow{.id = id});
}

QDragEnterEvent enterEventFor(const QMimeData* data)
{
    return QDragEnterEvent(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
}

class DragManagerTest : public ::testing::Test {
protected:
    void TearDown() override { DragManager::shared().setDragRunner(nullptr); }
};

TEST(DragDistanceTest, DragBeginsAtFiftyPixelsInAnyDirection)
{
    struct Case {
        QPointF to;
        bool begins;
    };
    const QPointF from(100, 100);
    for (const Case& c : {Case{{149.9, 100}, false}, Case{{100, 50.1}, false}, Case{{150, 100}, true},
                          Case{{50, 100}, true}, Case{{130, 60}, true}, Case{{129, 61}, false}}) {
        SCOPED_TRACE(::testing::Message() << c.to.x() << "," << c.to.y());
        EXPECT_EQ(screenshotDragDistanceReached(from, c.to), c.begins);
    }
}

TEST(DragDataTest, CarriesOnlyThePrivateTypeWithTheTextScreenshot)
{
    std::unique_ptr<QMimeData> data(makeScreenshotMimeData());
    EXPECT_EQ(data->formats(), QStringList{screenshotDragType});
    EXPECT_EQ(data->data(screenshotDragType), QByteArray("Screenshot"));
    EXPECT_TRUE(screenshotDragType.endsWith(QLatin1String(".Lumetrove.Screenshot")));
}

TEST(DragImageTest, ThumbnailIsSqueezedAndMissingThumbnailStaysTransparent)
{
    QImage wide(400, 40, QImage::Format_ARGB32);
    wide.fill(Qt::red);
    const QImage image = makeScreenshotDragImage(wide);
    EXPECT_EQ(image.size(), QSize(35, 25));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(34, 24), QColor(Qt::red));

    const QImage empty = makeScreenshotDragImage(QImage());
    EXPECT_EQ(empty.size(), QSize(35, 25));
    EXPECT_EQ(qAlpha(empty.pixel(17, 12)), 0);
}

TEST_F(DragManagerTest, OnlyTheRunningDragOfThisProcessIsAcceptedAndItIsClearedAtTheEnd)
{
    QWidget source;
    const ScreenshotPtr screenshot = screenshotWithId(7);
    QMimeData foreign;
    foreign.setData(screenshotDragType, QByteArrayLiteral("Screenshot"));

    bool ownAccepted = false;
    bool foreignAccepted = true;
    ScreenshotPtr seenDuringDrag;
    DragManager::shared().setDragRunner([&](QDrag& drag) {
        seenDuringDrag = DragManager::shared().draggedScreenshot();
        ownAccepted = isOwnScreenshotDrag(enterEventFor(drag.mimeData()));
        // Another process's drag of the same type arrives with data of its own.
        foreignAccepted = isOwnScreenshotDrag(enterEventFor(&foreign));
        return Qt::CopyAction;
    });

    EXPECT_EQ(DragManager::shared().beginDrag(&source, screenshot, QImage()), Qt::CopyAction);
    EXPECT_EQ(seenDuringDrag, screenshot);
    EXPECT_TRUE(ownAccepted);
    EXPECT_FALSE(foreignAccepted);
    EXPECT_EQ(DragManager::shared().draggedScreenshot(), nullptr);
    EXPECT_EQ(DragManager::shared().activeDragData(), nullptr);
}

TEST_F(DragManagerTest, CancelledDragIsClearedToo)
{
    QWidget source;
    DragManager::shared().setDragRunner([](QDrag&) { return Qt::IgnoreAction; });
    EXPECT_EQ(DragManager::shared().beginDrag(&source, screenshotWithId(3), QImage()), Qt::IgnoreAction);
    EXPECT_EQ(DragManager::shared().draggedScreenshot(), nullptr);
}

} // namespace
