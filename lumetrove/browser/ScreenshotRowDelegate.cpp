#include "lumetrove/browser/ScreenshotRowDelegate.h"

#include "lumetrove/browser/LibrarySelection.h"
#include "lumetrove/browser/ScreenshotListModel.h"
#include "lumetrove/browser/ThumbnailCache.h"
#include "lumetrove/platform/DesktopApplications.h"
#include "lumetrove/platform/NamedColors.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTimer>
#include <QtMath>

namespace lumetrove {

namespace {

constexpr int rowGap = 8;
constexpr int horizontalInset = 15;
constexpr int padding = 8;
constexpr int stackSpacing = 8;
constexpr int nameTrailingPadding = 50;
constexpr int nameHeight = 20;
constexpr int textSpacing = 5;
constexpr int appIconSize = 32;
constexpr int appIconInset = 15;
constexpr int mouseSurfaceTrailingGap = 15;
/// The least room a name needs beside the full-size thumbnail; a narrower row is compact.
constexpr int minimumNameWidth = 160;
// A compact row: the small thumbnail, less space around it, and a smaller application icon, so that the name
// has most of the row's width.
constexpr int compactTextGap = 12;
constexpr int compactAppIconSize = 20;
constexpr int compactAppIconInset = 8;
constexpr int compactNameTrailingPadding = compactAppIconInset + compactAppIconSize + 6;
constexpr int compactTextSpacing = 4;
/// Compact thumbnails kept at most; the cache is emptied when it would hold more.
constexpr qsizetype maxCompactThumbnails = 512;
/// A long recognised text is cut before it is laid out: the row shows a few lines of it at most.
constexpr qsizetype maxDescriptionLength = 600;

QFont nameFont(const QFont& base)
{
    QFont font = base;
    font.setBold(true);
    font.setPointSizeF(base.pointSizeF() + 1);
    return font;
}

QFont dateFont(const QFont& base)
{
    QFont font = base;
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    return font;
}

void paintBars(QPainter& painter, const QList<QRect>& bars, double opacity)
{
    painter.save();
    painter.setOpacity(opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(Qt::gray));
    for (const QRect& bar : bars) {
        painter.drawRoundedRect(bar, 4, 4);
    }
    painter.restore();
}

/// Date and description, wrapped into `rect`; when the text needs more lines than fit, the last line that
/// fits ends in an ellipsis.
void paintDetailText(QPainter& painter, const QRect& rect, const QString& date, const QString& description,
                     const QFont& baseFont, const QPalette& palette)
{
    const QString text = date + QStringLiteral("  ") + description.left(maxDescriptionLength).simplified();
    const QColor descriptionColor = namedColor(u"ScreenshotItemDescriptionColor", palette);
    QTextLayout::FormatRange dateRange;
    dateRange.start = 0;
    dateRange.length = static_cast<int>(date.size());
    dateRange.format.setFont(dateFont(baseFont));
    dateRange.format.setForeground(namedColor(u"ScreenshotItemDateColor", palette));
    QTextLayout::FormatRange descriptionRange;
    descriptionRange.start = dateRange.length;
    descriptionRange.length = static_cast<int>(text.size()) - dateRange.length;
    descriptionRange.format.setForeground(descriptionColor);

    QTextLayout layout(text, baseFont);
    layout.setFormats({dateRange, descriptionRange});
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const QFontMetrics metrics(baseFont);
    const int maxLines = std::max(1, rect.height() / std::max(1, metrics.lineSpacing()));
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(rect.width());
        line.setPosition(QPointF(0, y));
        y += line.height();
        if (layout.lineCount() > maxLines) {
            break;
        }
    }
    layout.endLayout();

    painter.save();
    if (layout.lineCount() <= maxLines) {
        painter.setClipRect(rect);
        layout.draw(&painter, rect.topLeft());
    } else {
        const QTextLine last = layout.lineAt(maxLines - 1);
        painter.setClipRect(QRect(rect.left(), rect.top(), rect.width(), qFloor(last.y())));
        layout.draw(&painter, rect.topLeft());
        painter.setClipRect(rect);
        painter.setFont(baseFont);
        painter.setPen(descriptionColor);
        painter.drawText(QPointF(rect.left(), rect.top() + last.y() + last.ascent()),
                         metrics.elidedText(text.mid(last.textStart()), Qt::ElideRight, rect.width()));
    }
    painter.restore();
}

/// The thumbnail clipped to its frame, with the frame's border drawn just inside it.
void paintThumbnail(QPainter& painter, const QRect& frame, const QImage& thumbnail, const QPalette& palette)
{
    painter.save();
    painter.setClipRect(frame);
    painter.drawImage(thumbnailImageRect(frame, thumbnail.deviceIndependentSize().toSize()), thumbnail);
    painter.restore();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(namedColor(u"ScreenshotItemThumbnailBorderColor", palette), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    painter.restore();
}

/// The placeholder bars of a row whose screenshot is being analysed: one for the name, three for the text.
void paintLoadingBars(QPainter& painter, const ScreenshotRowGeometry& geometry, double opacity)
{
    const QRect& name = geometry.nameRect;
    const QRect& detail = geometry.detailRect;
    paintBars(painter, {QRect(name.left(), name.top(), name.width(), 20)}, opacity);
    paintBars(painter,
              {QRect(detail.left(), detail.top(), detail.width(), 10),
               QRect(detail.left(), detail.top() + 18, detail.width(), 10),
               QRect(detail.left(), detail.top() + 36, detail.width(), 10)},
              opacity);
}

/// The name on its line, cut with an ellipsis where it is too long. A name can hold a line break (an
/// imported file's name may): it is drawn as a blank, so the name keeps to its one line.
void paintName(QPainter& painter, const QRect& rect, const QString& name, const QFont& baseFont,
               const QPalette& palette)
{
    QString line = name;
    for (QChar& character : line) {
        if (character == QLatin1Char('\n') || character == QLatin1Char('\r') ||
            character.category() == QChar::Separator_Line || character.category() == QChar::Separator_Paragraph) {
            character = QLatin1Char(' ');
        }
    }
    const QFont font = nameFont(baseFont);
    painter.setFont(font);
    painter.setPen(namedColor(u"ScreenshotItemNameColor", palette));
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QFontMetrics(font).elidedText(line, Qt::ElideRight, rect.width()));
}

} // namespace

bool isCompactScreenshotRow(int rowWidth)
{
    const int fullNameWidth = rowWidth - 2 * horizontalInset - nameTrailingPadding -
                              (padding + rowThumbnailFrame.width() + padding + stackSpacing + padding);
    return fullNameWidth < minimumNameWidth;
}

QImage compactRowThumbnail(const QImage& thumbnail)
{
    if (thumbnail.isNull()) {
        return thumbnail;
    }
    const qreal ratio = thumbnail.devicePixelRatio();
    QImage scaled = thumbnail.scaled(compactRowThumbnailFrame * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}

ScreenshotRowGeometry screenshotRowGeometry(const QRect& rowRect)
{
    ScreenshotRowGeometry geometry;
    geometry.mouseSurface = rowRect.adjusted(0, 0, -mouseSurfaceTrailingGap, 0);
    if (isCompactScreenshotRow(rowRect.width())) {
        // The name on a line of its own across the card, the application's icon at its end; below it the
        // small thumbnail with the date and description beside it.
        geometry.compact = true;
        geometry.card = rowRect.adjusted(horizontalInset, rowGap / 2, -horizontalInset, -rowGap / 2);
        geometry.nameRect =
            QRect(geometry.card.left() + padding, geometry.card.top() + padding,
                  std::max(0, geometry.card.width() - padding - compactNameTrailingPadding), nameHeight);
        geometry.appIconRect = QRect(geometry.card.right() + 1 - compactAppIconInset - compactAppIconSize,
                                     geometry.card.top() + compactAppIconInset, compactAppIconSize, compactAppIconSize);
        geometry.thumbnailFrame =
            QRect(QPoint(geometry.card.left() + padding, geometry.nameRect.bottom() + 1 + compactTextSpacing),
                  compactRowThumbnailFrame);
        const int textLeft = geometry.thumbnailFrame.right() + 1 + compactTextGap;
        geometry.detailRect =
            QRect(textLeft, geometry.thumbnailFrame.top(), std::max(0, geometry.card.right() - padding - textLeft),
                  std::max(0, geometry.card.bottom() - padding - geometry.thumbnailFrame.top()));
        return geometry;
    }
    geometry.card = rowRect.adjusted(horizontalInset, rowGap / 2, -horizontalInset, -rowGap / 2);
    geometry.thumbnailFrame = QRect(geometry.card.topLeft() + QPoint(padding, padding), rowThumbnailFrame);
    const int textLeft = geometry.thumbnailFrame.right() + 1 + padding + stackSpacing + padding;
    const int textWidth = std::max(0, geometry.card.right() - nameTrailingPadding - textLeft);
    geometry.nameRect = QRect(textLeft, geometry.card.top() + 2 * padding, textWidth, nameHeight);
    const int detailTop = geometry.nameRect.bottom() + 1 + textSpacing + padding;
    geometry.detailRect = QRect(textLeft, detailTop, std::max(0, geometry.card.right() - padding - textLeft),
                                std::max(0, geometry.card.bottom() - 2 * padding - detailTop));
    geometry.appIconRect = QRect(geometry.card.right() + 1 - appIconInset - appIconSize,
                                 geometry.card.top() + appIconInset, appIconSize, appIconSize);
    return geometry;
}

int screenshotRowHeight(int rowWidth)
{
    if (isCompactScreenshotRow(rowWidth)) {
        return rowGap + padding + nameHeight + compactTextSpacing + compactRowThumbnailFrame.height() + padding;
    }
    return rowThumbnailFrame.height() + 2 * padding + rowGap;
}

QRect thumbnailImageRect(const QRect& frame, const QSize& imageSize)
{
    QRect rect(QPoint(0, 0), imageSize);
    rect.moveCenter(frame.center());
    // QRect's centre rounds down; place by the exact half so that a frame-sized image covers the frame.
    rect.moveTopLeft(QPoint(frame.left() + (frame.width() - imageSize.width()) / 2,
                            frame.top() + (frame.height() - imageSize.height()) / 2));
    return rect;
}

ScreenshotRowDelegate::ScreenshotRowDelegate(const LibrarySelection& selection, ThumbnailCache& thumbnails,
                                             QObject* parent)
    : QStyledItemDelegate(parent), selection_(selection), thumbnails_(thumbnails)
{}

QSize ScreenshotRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    // Every row is as wide as the list's viewport (the list asks once for all rows, with no rectangle).
    int width = option.rect.width();
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget); view != nullptr) {
        width = view->viewport()->width();
    }
    if (width <= 0) {
        width = 600;
    }
    return QSize(width, screenshotRowHeight(width));
}

void ScreenshotRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (!index.isValid()) {
        return;
    }
    const qint64 id = index.data(ScreenshotListModel::IdRole).toLongLong();
    const ScreenshotRowGeometry geometry = screenshotRowGeometry(option.rect);
    const QPalette& palette = option.palette;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    const ScreenshotPtr& selected = selection_.selectedScreenshot();
    if (selected != nullptr && selected->id() == id) {
        QPainterPath card;
        card.addRoundedRect(geometry.card, 6, 6);
        painter->fillPath(card, namedColor(u"ScreenshotItemSelectedColor", palette));
    }

    if (const QImage thumbnail = rowThumbnail(id, geometry.compact); !thumbnail.isNull()) {
        paintThumbnail(*painter, geometry.thumbnailFrame, thumbnail, palette);
    }

    if (index.data(ScreenshotListModel::ProcessingRole).toBool()) {
        paintLoadingBars(*painter, geometry, loadingBarsOpacity_);
        emit processingRowPainted();
    } else {
        paintName(*painter, geometry.nameRect, index.data(Qt::DisplayRole).toString(), option.font, palette);
        paintDetailText(*painter, geometry.detailRect, index.data(ScreenshotListModel::DateRole).toString(),
                        index.data(ScreenshotListModel::DescriptionRole).toString(), option.font, palette);
    }

    if (const QVariant bundleId = index.data(ScreenshotListModel::AppBundleIdRole); bundleId.isValid()) {
        if (const std::optional<QIcon> icon = appIcon(bundleId.toString())) {
            icon->paint(painter, geometry.appIconRect);
        }
    }
    painter->restore();
}

QImage ScreenshotRowDelegate::rowThumbnail(qint64 id, bool compact) const
{
    const QImage thumbnail = thumbnails_.thumbnail(id);
    if (!compact || thumbnail.isNull()) {
        return thumbnail;
    }
    auto found = compactThumbnails_.constFind(thumbnail.cacheKey());
    if (found == compactThumbnails_.cend()) {
        if (compactThumbnails_.size() >= maxCompactThumbnails) {
            compactThumbnails_.clear();
        }
        found = compactThumbnails_.insert(thumbnail.cacheKey(), compactRowThumbnail(thumbnail));
    }
    return found.value();
}

std::optional<QIcon> ScreenshotRowDelegate::appIcon(const QString& bundleId) const
{
    const auto found = appIcons_.constFind(bundleId);
    if (found != appIcons_.cend()) {
        return found.value();
    }
    // Finding an application's icon reads desktop entries: never while painting. It is looked up on the
    // next turn of the event loop and the rows repainted.
    if (pendingAppIcons_.isEmpty()) {
        QTimer::singleShot(0, this, &ScreenshotRowDelegate::resolveAppIcons);
    }
    pendingAppIcons_.insert(bundleId);
    return std::nullopt;
}

void ScreenshotRowDelegate::resolveAppIcons() const
{
    const QSet<QString> pending = std::exchange(pendingAppIcons_, {});
    for (const QString& bundleId : pending) {
        appIcons_.insert(bundleId, applicationIcon(bundleId));
    }
    if (!pending.isEmpty()) {
        emit appIconResolved();
    }
}

} // namespace lumetrove
