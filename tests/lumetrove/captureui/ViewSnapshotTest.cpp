#include "lumetrove/captureui/ViewSnapshot.h"

#include <QPalette>
#include <QWidget>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

TEST(SnapshotImageTest, HasTheWidgetsSizeInPoints)
{
    QWidget widget;
    widget.resize(200, 140);
    widget.setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::green);
    widget.setPalette(palette);
    const QImage snapshot = snapshotImage(widget, 2);
    EXPECT_EQ(snapshot.deviceIndependentSize(), QSizeF(200, 140));
    EXPECT_EQ(snapshot.pixelColor(10, 10), QColor(Qt::green));
    QWidget empty;
    empty.resize(0, 0);
    EXPECT_TRUE(snapshotImage(empty).isNull());
}

} // namespace
} // namespace lumetrove
