#include "lumetrove/platform/TextRecognizer.h"

#include <QFont>
#include <QPainter>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

/// The figures of `text` alone, in their order.
std::string figuresOf(const QString& text)
{
    std::string figures;
    for (const QChar c : text) {
        if (c.isDigit()) {
            figures += static_cast<char>(c.unicode());
        }
    }
    return figures;
}

TEST(TextRecognitionFiguresTest, ReadsTheSmallThreesAndFivesOfASerifFontAsDrawn)
{
    // At 8 px the figures 3 and 5 of a serif font are five pixels high: the engine takes one for the other, in the
    // line and read alone, and is sure of it.
    const QStringList lines{
        QStringLiteral("35,153.53  5,303.35  53.35  3,535.30"), QStringLiteral("1,335.05  $3,553.33  553.31  0.35"),
        QStringLiteral("$53,351.35  135.53  3,515.13  35.5"), QStringLiteral("93.53  $5,335.53  13,353.15  5.33")};
    for (const auto& [bold, dark] : {std::pair{false, true}, std::pair{true, false}, std::pair{true, true}}) {
        SCOPED_TRACE(std::string(bold ? "bold" : "regular") + (dark ? " light on dark" : " dark on light"));
        QImage image(QSize(420, 20 + 16 * static_cast<int>(lines.size())), QImage::Format_RGB32);
        image.fill(dark ? QColor(0x1e, 0x1f, 0x22) : QColor(0xfa, 0xfa, 0xfa));
        QPainter painter(&image);
        QFont font(QStringLiteral("DejaVu Serif"));
        font.setPixelSize(8);
        font.setBold(bold);
        painter.setFont(font);
        painter.setPen(dark ? QColor(0xe6, 0xe6, 0xe6) : QColor(0x20, 0x20, 0x20));
        for (int i = 0; i < lines.size(); ++i) {
            painter.drawText(QPoint(12, 18 + 16 * i), lines[i]);
        }
        painter.end();
        const QString read = sharedTextRecognizer()->recognize(image).joinedLines();
        EXPECT_EQ(figuresOf(read), figuresOf(lines.join(QLatin1Char(' ')))) << read.toStdString();
    }
}

} // namespace
} // namespace lumetrove
