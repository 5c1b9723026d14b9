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

TEST(TextRecognitionPathsTest, ReadsTheSlashesAmongTheLettersOfSmallSerifPaths)
{
    // Between the letters of small serif text the engine reads a slash as an f ("/varfcache"); an f that is a
    // letter of a name keeps it.
    const QStringList lines{QStringLiteral("/srv/export/logs  /var/cache/fonts"),
                            QStringLiteral("/etc/network/routes  /mnt/media/photos"),
                            QStringLiteral("/opt/profile/shelf  /srv/civil/wifi")};
    for (const auto& [dark, path] : {std::pair{false, "/var/cache/fonts"}, std::pair{true, "/etc/network/routes"}}) {
        SCOPED_TRACE(dark ? "light on dark" : "dark on light");
        const QString read =
            sharedTextRecognizer()->recognize(smallLines(lines, "DejaVu Serif", 8, dark)).joinedLines();
        EXPECT_TRUE(read.contains(QLatin1String(path))) << read.toStdString();
        EXPECT_TRUE(read.contains(QLatin1String("/opt/profile/shelf"))) << read.toStdString();
    }
}

/// A reading of one block of one line that reads `text` from x = 10 to 110 with `confidence`.
std::vector<recognition::ReadLine> oneWord(const char* text, float confidence)
{
    std::vector<recognition::ReadLine> reading(1);
    const QRectF box(QPointF(10, 10), QPointF(110, 22));
    reading.front().line.words.push_back(RecognizedWord{QString::fromUtf8(text), box, confidence});
    reading.front().line.boundingBox = box;
    recognition::spellFromWords(reading.front().line);
    return reading;
}

TEST(TextRecognitionPathsTest, TheReadingsOfABlockKeepAPointThatOneOfThemSeesInsideAWord)
{
    // In small serif text the point of "letter.txt" touches the foot of the r; the readings that miss it are the
    // surer ones, and no two of them agree.
    const auto agreed = [](std::vector<std::pair<const char*, float>> words) {
        std::vector<std::vector<recognition::ReadLine>> readings;
        for (const auto& [text, confidence] : words) {
            readings.push_back(oneWord(text, confidence));
        }
        return recognition::agreedReading(std::move(readings)).front().line.text.toStdString();
    };
    EXPECT_EQ(agreed({{"~/before/letter.txt", 61}, {"~feforeiletiertxt", 24}, {"~/before/lettertxt", 67}}),
              "~/before/letter.txt");
    EXPECT_EQ(agreed({{"3.14", 70}, {"314", 90}}), "3.14");
    // A point at a word's end may be a speck beside it: the surer reading stays.
    EXPECT_EQ(agreed({{"done.", 60}, {"done", 90}}), "done");
}

} // namespace
} // namespace lumetrove
