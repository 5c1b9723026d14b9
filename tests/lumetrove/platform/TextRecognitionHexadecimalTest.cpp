#include "lumetrove/platform/TextRecognitionNumbers.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QFont>
#include <QPainter>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

/// `line` in `font`, dark on light, on an image as wide as 40 of its pixel sizes.
QImage lineImage(const QString& line, const QFont& font)
{
    const int size = font.pixelSize();
    QImage image(QSize(40 * size + 40, 3 * size), QImage::Format_RGB32);
    image.fill(QColor(0xfa, 0xfa, 0xfa));
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    painter.drawText(QPoint(10, 2 * size), line);
    return image;
}

TEST(TextRecognitionHexadecimalTest, ReadsTheFiguresOfColoursThatTheLineReadsAsTheCapitalsTheyLookLike)
{
    // Bold at 8 px the engine reads the 6 of "#A6B1F3" as a G; at 22 px monospaced the 0 of "#CCAB0D" as an O,
    // beside no figure that would show the colour for a number.
    QFont sans(QStringLiteral("DejaVu Sans"));
    sans.setPixelSize(8);
    sans.setBold(true);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(22);
    for (const auto& [line, font] : {std::pair{QStringLiteral("2db5691f #A6B1F3 #D77C0C 1224901f 0x5312"), sans},
                                     std::pair{QStringLiteral("9001f7ca 0x47FD #6CB8B2 #CCAB0D"), mono}}) {
        const QString read = sharedTextRecognizer()->recognize(lineImage(line, font)).joinedLines();
        EXPECT_EQ(read.toStdString(), line.toStdString());
    }
}

TEST(TextRecognitionHexadecimalTest, SetsAReadingAloneThatLostOrGainedAGlyphAgainstTheLinesReading)
{
    using recognition::alignedFigures;
    // Figures of the reading alone, letters of the line's.
    EXPECT_EQ(alignedFigures(QStringLiteral("C43E"), QStringLiteral("C45F")), QStringLiteral("C43F"));
    // The 4 lost: it is the line's; the 3 read alone for the line's 5 counts.
    EXPECT_EQ(alignedFigures(QStringLiteral("CF3"), QStringLiteral("C4F5")), QStringLiteral("C4F3"));
    // A glyph gained ("6") is left out, and a letter read for a figure ("b" for "5") is the line's figure.
    EXPECT_EQ(alignedFigures(QStringLiteral("bd270316a"), QStringLiteral("5d27051a")), QStringLiteral("5d27031a"));
    // The 2 or the 5 lost: either place fits as well and gives other figures.
    EXPECT_EQ(alignedFigures(QStringLiteral("7B3"), QStringLiteral("7B25")), std::nullopt);
    EXPECT_EQ(alignedFigures(QStringLiteral("7B"), QStringLiteral("7B25")), std::nullopt);
}

} // namespace
} // namespace lumetrove
