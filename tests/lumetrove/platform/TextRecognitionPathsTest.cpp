#include "lumetrove/platform/TextRecognitionAgreement.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QFont>
#include <QPainter>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

/// `lines` in `family` at `pixelSize` px, dark on light or light on dark, 16 px apart.
QImage smallLines(const QStringList& lines, const char* family, int pixelSize, bool dark)
{
    QImage image(QSize(420, 20 + 16 * static_cast<int>(lines.size())), QImage::Format_RGB32);
    image.fill(dark ? QColor(0x1e, 0x1f, 0x22) : QColor(0xfa, 0xfa, 0xfa));
    QPainter painter(&image);
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(dark ? QColor(0xe6, 0xe6, 0xe6) : QColor(0x20, 0x20, 0x20));
    for (int i = 0; i < lines.size(); ++i) {
        painter.drawText(QPoint(12, 18 + 16 * i), lines[i]);
    }
    return image;
}

/// The first glyph of each word of `text`, words set apart by blanks.
QString firstGlyphs(const QString& text)
{
    QString firsts;
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        firsts += word.front();
    }
    return firsts;
}

TEST(TextRecognitionPathsTest, ReadsTheSlashThatBeginsAPathAndKeepsTheFAndJThatBeginOne)
{
    // Small paths at the start of a line or after a space: the engine reads their first slash as an f. Paths
    // that begin with an f or a j keep it.
    const QStringList lines{QStringLiteral("/usr/share/fonts  /opt/data"),
                            QStringLiteral("fonts/serif/bold  /etc/hosts"),
                            QStringLiteral("java/util/list  /opt/local")};
    const std::tuple<const char*, int, bool> cases[] = {
        {"DejaVu Sans", 8, false}, {"DejaVu Sans", 8, true}, {"DejaVu Sans Mono", 8, false}};
    for (const auto& [family, pixelSize, dark] : cases) {
        SCOPED_TRACE(std::string(family) + (dark ? " light on dark" : " dark on light"));
        const QString read =
            sharedTextRecognizer()->recognize(smallLines(lines, family, pixelSize, dark)).joinedLines();
        EXPECT_EQ(firstGlyphs(read).toStdString(), "//f/j/") << read.toStdString();
    }
}

} // namespace
} // namespace lumetrove
