#include "flowlayout/FlowStack.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QSplitter>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using flowlayout::FlowStack;
using flowlayout::Spacing;

constexpr double kNewLine = std::numeric_limits<double>::infinity();

struct LineCase {
    const char* what;
    std::vector<double> widths;
    double available;
    double spacing;
    std::vector<int> starts;
};

TEST(FlowLineBreaking, FollowsWidthsMarkersAndSkippedItems)
{
    const double nan = std::nan("");
    const std::vector<LineCase> cases = {
        {"no items", {}, 100, 8, {}},
        {"first item opens line 0", {10}, 100, 0, {0}},
        {"exact fit stays", {40, 40, 40}, 136, 8, {0}},
        {"one point short wraps", {40, 40, 40}, 135, 8, {0, 2}},
        {"too wide stands alone", {30, 500, 30}, 100, 8, {0, 1, 2}},
        {"zero, negative and NaN are skipped", {0, -5, nan, 20, 0, 20}, 100, 8, {3}},
        {"marker opens an empty line", {20, kNewLine, 20}, 100, 8, {0, 1, 2}},
        {"two markers", {20, kNewLine, kNewLine, 20}, 100, 8, {0, 1, 2, 3}},
        {"marker first", {kNewLine, 20}, 100, 8, {0, 1}},
        {"width 0 puts each item alone", {10, 10, 10}, 0, 8, {0, 1, 2}},
        {"duplicates are separate items", {50, 50, 50}, 110, 8, {0, 2}},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(flowlayout::firstItemOfEachLine(c.widths, c.available, c.spacing), c.starts);
    }
}

/// A widget of a fixed preferred size, like a keyword chip.
class Chip : public QWidget {
public:
    Chip(int width, int height, QWidget* parent) : QWidget(parent), hint_(width, height) {}
    QSize sizeHint() const override { return hint_; }
    QSize minimumSizeHint() const override { return {1, 1}; }

private:
    QSize hint_;
};

struct Host {
    QWidget widget;
    FlowStack* flow;
    std::vector<Chip*> chips;

    Host(Qt::Alignment alignment, Spacing spacing, std::vector<QSize> sizes, int lineSpacing = 10)
        : flow(new FlowStack(&widget, alignment, spacing, lineSpacing))
    {
        for (QSize size : sizes) {
            chips.push_back(new Chip(size.width(), size.height(), &widget));
            flow->addWidget(chips.back());
        }
    }
    void layOut(int width, int height = 400) { flow->setGeometry(QRect(0, 0, width, height)); }
    QRect at(std::size_t i) const { return chips[i]->geometry(); }
};

TEST(FlowStackGeometry, ConstantSpacingWrapsAndAlignsLines)
{
    struct Case {
        const char* what;
        Qt::Alignment alignment;
        std::vector<int> xs;
    };
    // Two 40-wide chips fit a 100-wide line (40 + 8 + 40 = 88, 12 spare); the third wraps alone.
    const std::vector<Case> cases = {
        {"leading", Qt::AlignLeading, {0, 48, 0}},
        {"centre", Qt::AlignHCenter, {6, 54, 30}},
        {"trailing", Qt::AlignTrailing, {12, 60, 60}},
        {"other alignment centres the fixed gaps", Qt::AlignJustify, {6, 54, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Host host(c.alignment, Spacing::constant(8), {{40, 20}, {40, 30}, {40, 20}});
        host.layOut(100);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(host.at(i).x(), c.xs[i]) << "chip " << i;
            EXPECT_EQ(host.at(i).width(), 40);
        }
        // Line 0 is as high as its highest chip (30), the shorter one centred; line 1 starts 10 below.
        EXPECT_EQ(host.at(0).y(), 5);
        EXPECT_EQ(host.at(1).y(), 0);
        EXPECT_EQ(host.at(2).y(), 40);
        EXPECT_EQ(host.flow->heightForWidth(100), 60);
    }
}

TEST(FlowStackGeometry, RightToLeftMirrorsTheLines)
{
    Host host(Qt::AlignLeading, Spacing::constant(8), {{40, 20}, {40, 20}});
    host.widget.setLayoutDirection(Qt::RightToLeft);
    host.layOut(100);
    EXPECT_EQ(host.at(0).x(), 60);
    EXPECT_EQ(host.at(1).x(), 12);
}

TEST(FlowStackGeometry, DynamicSpacingSharesTheSpareWidth)
{
    // Two chips: the one gap takes all spare width, so the line spans the width.
    Host pair(Qt::AlignLeading, Spacing::dynamic(8), {{40, 20}, {40, 20}});
    pair.layOut(100);
    EXPECT_EQ(pair.at(0).x(), 0);
    EXPECT_EQ(pair.at(1).x(), 60);

    // A single chip on its line is placed by the side spacers.
    Host single(Qt::AlignTrailing, Spacing::dynamic(8), {{40, 20}});
    single.layOut(100);
    EXPECT_EQ(single.at(0).x(), 60);

    // With borders, the two borders and the gap (8 each) share the 16 spare points alike.
    Host borders(Qt::AlignLeading, Spacing::dynamicIncludingBorders(8), {{40, 20}, {20, 20}});
    borders.layOut(100);
    EXPECT_EQ(borders.at(0).x(), 13);
    EXPECT_EQ(borders.at(1).x(), 67);
}

TEST(FlowStackGeometry, MarkersHiddenWidgetsAndHeightForWidth)
{
    Host host(Qt::AlignLeading, Spacing::constant(8), {{40, 20}});
    host.flow->addNewLine();
    host.chips.push_back(new Chip(40, 20, &host.widget));
    host.flow->addWidget(host.chips.back());
    auto* hidden = new Chip(40, 20, &host.widget);
    hidden->hide();
    host.flow->addWidget(hidden);
    host.chips.push_back(new Chip(40, 20, &host.widget));
    host.flow->addWidget(host.chips.back());
    host.layOut(200);

    // The marker's line holds nothing and stands between two lines with the line spacing on both sides.
    EXPECT_EQ(host.flow->lineStarts(200), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(host.at(1).topLeft(), QPoint(0, 40));
    // The hidden chip takes no room and no gap.
    EXPECT_EQ(host.at(2).topLeft(), QPoint(48, 40));
    EXPECT_EQ(host.flow->heightForWidth(200), 60);
    EXPECT_EQ(host.flow->heightForWidth(40), 20 + 10 + 0 + 10 + 20 + 10 + 20);
}

TEST(FlowStackGeometry, EmptyLayoutHasNoHeightAndWidthsFollowSizeHintChanges)
{
    Host empty(Qt::AlignLeading, Spacing::constant(8), {});
    EXPECT_EQ(empty.flow->heightForWidth(100), 0);

    Host host(Qt::AlignLeading, Spacing::constant(8), {{40, 20}, {40, 20}});
    EXPECT_EQ(host.flow->lineStarts(100), (std::vector<int>{0}));
    host.flow->setContent(std::vector<int>{60, 60}, [&](int width) { return new Chip(width, 20, &host.widget); });
    EXPECT_EQ(host.flow->count(), 2);
    EXPECT_EQ(host.flow->lineStarts(100), (std::vector<int>{0, 1}));
}

/// Counts its layout passes.
class CountingFlow : public FlowStack {
public:
    using FlowStack::FlowStack;
    void setGeometry(const QRect& rect) override
    {
        ++passes;
        FlowStack::setGeometry(rect);
    }
    int passes = 0;
};

TEST(FlowStackGeometry, NewContentOfAShownWidgetIsLaidOutOnceWhateverItsSize)
{
    QWidget widget;
    auto* flow = new CountingFlow(&widget, Qt::AlignLeading, Spacing::constant(8), 10);
    widget.resize(300, 200);
    widget.show();
    const auto chip = [&](int width) {
        auto* made = new Chip(width, 20, &widget);
        made->show(); // as the keyword editor does: each chip shown as it is made
        return made;
    };
    std::vector<int> widths(3000, 40);
    for (int round = 0; round < 2; ++round) { // a first filling, then a replacement of every item
        SCOPED_TRACE(round);
        flow->passes = 0;
        flow->setContent(widths, chip);
        QCoreApplication::processEvents();
        EXPECT_EQ(flow->count(), 3000);
        EXPECT_LE(flow->passes, 2);
        EXPECT_EQ(flow->lineStarts(300).size(), 3000u / 6);
    }
    flow->passes = 0;
    flow->addWidget(chip(40));
    QCoreApplication::processEvents();
    EXPECT_GE(flow->passes, 1); // enabled again: an added item is laid out as before
}

TEST(FlowStackGeometry, WrappedLinesGetTheirRoomInParentsThatLayOutBySizeHints)
{
    // A splitter, like the detail pane's, asks its panes for their size hints, never for a height for a
    // width: the lines that wrap must still be inside the pane, and follow the width when it changes.
    QSplitter splitter(Qt::Vertical);
    auto* top = new QWidget(&splitter);
    top->setMinimumHeight(100);
    auto* pane = new QWidget(&splitter);
    auto* column = new QVBoxLayout(pane);
    auto* chipArea = new QWidget(pane);
    auto* flow = new FlowStack(chipArea, Qt::AlignLeading, Spacing::constant(8), 10);
    std::vector<Chip*> chips;
    for (int i = 0; i < 12; ++i) {
        chips.push_back(new Chip(70, 20, chipArea));
        flow->addWidget(chips.back());
    }
    column->addWidget(chipArea);
    column->addWidget(new QLineEdit(pane));
    splitter.setStretchFactor(0, 1);
    splitter.resize(1100, 600);
    splitter.show();
    QApplication::processEvents();

    const auto allChipsShown = [&] {
        for (const Chip* chip : chips) {
            const QRect inPane(chip->mapTo(pane, QPoint(0, 0)), chip->size());
            if (!chipArea->rect().contains(chip->geometry()) || !pane->rect().contains(inPane)) {
                return false;
            }
        }
        return true;
    };
    EXPECT_EQ(flow->lineStarts(chipArea->width()).size(), 1u);
    EXPECT_TRUE(allChipsShown());

    for (int width : {300, 160, 500, 900}) {
        SCOPED_TRACE(width);
        splitter.resize(width, 600);
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
        EXPECT_GE(flow->lineStarts(chipArea->width()).size(), 2u);
        EXPECT_TRUE(allChipsShown());
        EXPECT_GE(chipArea->height(), flow->heightForWidth(chipArea->width()));
    }
}

} // namespace
