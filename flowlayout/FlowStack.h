#pragma once

#include <QLayout>
#include <QWidget>
#include <span>
#include <vector>

namespace flowlayout {

/// How neighbouring items of a line stand apart. The line breaking counts `value` as one gap before every
/// item that joins a line, whatever the kind.
struct Spacing {
    enum class Kind {
        /// Exactly `value` apart.
        constant,
        /// At least `value` apart; the gaps share the spare width of the line.
        dynamic,
        /// As `dynamic`, with a flexible border of at least `value` before the first and after the last item.
        dynamicIncludingBorders,
    };
    Kind kind = Kind::constant;
    double value = 0;

    static Spacing constant(double spacing) { return {Kind::constant, spacing}; }
    static Spacing dynamic(double minSpacing) { return {Kind::dynamic, minSpacing}; }
    static Spacing dynamicIncludingBorders(double minSpacing) { return {Kind::dynamicIncludingBorders, minSpacing}; }
};

/// A line-break marker: the item after it starts a new line. It takes no room and is never drawn.
class NewLine : public QLayoutItem {
public:
    QSize sizeHint() const override { return {}; }
    QSize minimumSize() const override { return {}; }
    QSize maximumSize() const override { return {}; }
    Qt::Orientations expandingDirections() const override { return {}; }
    void setGeometry(const QRect& rect) override { rect_ = rect; }
    QRect geometry() const override { return rect_; }
    bool isEmpty() const override { return true; }

private:
    QRect rect_;
};

/// The item index at which each line begins, for items of the given widths in an available width.
/// A marker line break has the width +infinity; an item whose width is not greater than 0 (or NaN) is
/// skipped: it opens no line, takes no room and gets no gap. An item wider than the available width stands
/// alone on its line.
std::vector<int> firstItemOfEachLine(std::span<const double> widths, double availableWidth, double spacing);

/// Places its items side by side and wraps them onto further lines when the width is used up. Items are
/// widgets (or any layout item) and `NewLine` markers. Each line is as high as its highest item, items are
/// centred vertically in their line, lines stand `lineSpacing` apart. The horizontal alignment places lines
/// that do not fill the width: Qt::AlignLeading (or AlignLeft), AlignHCenter, AlignTrailing (or AlignRight);
/// any other value centres a line with fixed gaps and gives single items no side room. Right-to-left
/// widgets mirror the lines.
///
/// Item widths come from their size hints and are read once after each invalidation (a child's
/// updateGeometry, adding or removing an item), not on every layout pass.
class FlowStack : public QLayout {
    Q_OBJECT

public:
    FlowStack(QWidget* parent, Qt::Alignment alignment, Spacing spacing, int lineSpacing);
    ~FlowStack() override;

    Qt::Alignment flowAlignment() const { return alignment_; }
    Spacing flowSpacing() const { return spacing_; }
    int lineSpacing() const { return lineSpacing_; }

    /// Appends a line-break marker.
    void addNewLine();
    /// Replaces every item by one widget per element of `data`, made by `content` in order; the old widgets
    /// are deleted. Duplicate elements give separate items. The items are laid out once, after the last one
    /// is added, however many there are and whether or not `content` shows each widget it makes.
    template <typename Range, typename Content> void setContent(const Range& data, Content content)
    {
        // Showing a child of a shown widget lays out the widget's layout at once: enabled, this one would lay
        // out every item so far for each new one.
        const bool enabled = isEnabled();
        setEnabled(false);
        clearItems();
        for (const auto& element : data) {
            addWidget(content(element));
        }
        setEnabled(enabled);
        invalidate();
    }
    /// Removes every item and deletes the widgets among them (later: one may be sending the signal that led
    /// here).
    void clearItems();

    /// The index of the first item of each line for the given width, as the last layout pass would find it.
    std::vector<int> lineStarts(int width) const;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;
    void invalidate() override;

private:
    /// Lays the items out in a rectangle of the given width at the origin, without moving them when
    /// `apply` is false; returns the height the lines take.
    int doLayout(const QRect& rect, bool apply) const;
    const std::vector<double>& widths() const;

    std::vector<QLayoutItem*> items_;
    Qt::Alignment alignment_;
    Spacing spacing_;
    int lineSpacing_;
    mutable std::vector<double> widths_;
    mutable bool widthsValid_ = false;
    mutable int cachedWidth_ = -1;
    mutable int cachedHeight_ = 0;
    /// The width of the last layout pass; 0 before the first.
    int laidOutWidth_ = 0;
};

} // namespace flowlayout
