#include "lumetrove/platform/TextRecognizer.h"

#include "lumetrove/platform/TextRecognitionAgreement.h"
#include "lumetrove/platform/TextRecognitionWords.h"
#include "tests/lumetrove/RecognitionHelpers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleFactory>
#include <QTableWidget>
#include <QThread>
#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

namespace lumetrove {
namespace {

/// `lines` in `font` and `ink` on `ground`, the first baseline at `first` and each next `spacing` lower, on an
/// image of `size` points at `ratio` device pixels per point.
QImage linesImage(const QStringList& lines, QSize size, qreal ratio, const QFont& font, QColor ink, QColor ground,
                  QPoint first, int spacing)
{
    QImage image(size * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(ground);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(ink);
    for (int i = 0; i < lines.size(); ++i) {
        painter.drawText(first + QPoint(0, spacing * i), lines[i]);
    }
    return image;
}

/// The inks and grounds of interface text: dark on light and light on dark.
const std::array<std::pair<QColor, QColor>, 2> bothPolarities{
    std::pair{QColor(0x20, 0x20, 0x20), QColor(0xfa, 0xfa, 0xfa)},
    std::pair{QColor(0xe6, 0xe6, 0xe6), QColor(0x1e, 0x1f, 0x22)}};

/// What a reading of `lines` gives, drawn with their words two blanks apart: each line, one blank between words.
std::string readAs(const QStringList& lines)
{
    return lines.join(QLatin1Char('\n')).replace(QStringLiteral("  "), QStringLiteral(" ")).toStdString();
}

/// Expects `lines`, drawn at ratio 1 with their words two blanks apart, read as `readAs` gives in both polarities.
void expectReadInBothPolarities(const QStringList& lines, QSize size, const QFont& font, QPoint first, int spacing)
{
    for (const auto& [ink, ground] : bothPolarities) {
        SCOPED_TRACE(ground.name().toStdString());
        const QImage image = linesImage(lines, size, 1, font, ink, ground, first, spacing);
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), readAs(lines));
    }
}

/// A text area of `size` in `ground` with, at its left, a stippled scroll bar in `ink` `width` px wide and its border.
QImage stippledScrollBarArea(QSize size, QColor ink, QColor ground, int width = 12)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(ground);
    {
        QPainter painter(&image);
        painter.fillRect(QRect(0, 0, width, size.height()), QBrush(ink, Qt::Dense4Pattern));
        painter.fillRect(QRect(width, 0, 1, size.height()), ink);
    }
    return image;
}

/// A strip of interface text: `lines` drawn at 13 px in `ink` on `ground`, 22 px apart.
QImage textImage(const QStringList& lines, QColor ink, QColor ground, int pixelSize = 13)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    return linesImage(lines, QSize(520, 30 + 22 * static_cast<int>(lines.size())), 1, font, ink, ground, QPoint(16, 30),
                      22);
}

TEST(TextRecognizerTest, ReadsLightAndDarkInterfaceTextWithLineAndWordBoxes)
{
    const QStringList lines{QStringLiteral("Quarterly budget review"), QStringLiteral("Download the invoice archive")};
    struct Case {
        const char* name;
        QImage image;
    };
    const Case cases[] = {
        {"dark on light", textImage(lines, QColor(0x22, 0x22, 0x22), Qt::white)},
        {"light on dark", textImage(lines, QColor(0xd4, 0xd4, 0xd4), QColor(0x1e, 0x1e, 0x1e))},
        {"small status text", textImage(lines, Qt::white, QColor(0x00, 0x7a, 0xcc), 11)},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const RecognizedText text = sharedTextRecognizer()->recognize(testCase.image);
        EXPECT_EQ(text.joinedLines(), lines.join(QLatin1Char('\n')));
        ASSERT_EQ(text.lines.size(), 2u);
        const RecognizedLine& second = text.lines[1];
        ASSERT_EQ(second.words.size(), 4u);
        EXPECT_EQ(second.words[2].text, QStringLiteral("invoice"));
        // Boxes are in the image's pixels: the second line's baseline is at y = 52.
        EXPECT_TRUE(second.boundingBox.contains(second.words[2].boundingBox.center()));
        EXPECT_NEAR(second.boundingBox.bottom(), 52, 5);
        EXPECT_GT(second.words[0].boundingBox.left(), 10);
        EXPECT_LT(second.words[0].boundingBox.left(), 22);
        EXPECT_LT(second.words[0].boundingBox.right(), second.words[1].boundingBox.left());
    }
}

/// The words of `lines` drawn at 14 px, 26 px apart, at `ratio` device pixels per point, with the box each
/// word was drawn in, in the image's pixels.
struct DrawnText {
    QImage image;
    std::vector<std::pair<QString, QRectF>> words;
};

DrawnText drawnAtRatio(const QStringList& lines, qreal ratio)
{
    DrawnText drawn;
    drawn.image = QImage(QSize(420, 40 + 26 * static_cast<int>(lines.size())) * ratio, QImage::Format_RGB32);
    drawn.image.setDevicePixelRatio(ratio);
    drawn.image.fill(Qt::white);
    QPainter painter(&drawn.image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(QColor(0x22, 0x22, 0x22));
    const QFontMetricsF metrics(font);
    for (int i = 0; i < lines.size(); ++i) {
        const QPointF baseline(20, 32 + 26 * i);
        painter.drawText(baseline, lines[i]);
        double x = baseline.x();
        for (const QString& word : lines[i].split(QLatin1Char(' '))) {
            const QRectF points(x, baseline.y() - metrics.ascent(), metrics.horizontalAdvance(word), metrics.height());
            drawn.words.emplace_back(word, QRectF(points.topLeft() * ratio, points.size() * ratio));
            x += metrics.horizontalAdvance(word + QLatin1Char(' '));
        }
    }
    return drawn;
}

TEST(TextRecognizerTest, ReadsAnImageAtRatioTwoInItsPixelsAsWellAsAtRatioOne)
{
    // A capture of a scale-2 screen, or a file named *@2x.png, holds twice the pixels of the same content
    // at ratio 1: it reads the same, and each word's box lies on the pixels it was drawn in.
    const QStringList lines{QStringLiteral("Quarterly budget review"), QStringLiteral("Download the invoice archive")};
    for (const qreal ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        const DrawnText drawn = drawnAtRatio(lines, ratio);
        const RecognizedText text = sharedTextRecognizer()->recognize(drawn.image);
        EXPECT_EQ(text.joinedLines(), lines.join(QLatin1Char('\n')));
        std::vector<RecognizedWord> words;
        for (const RecognizedLine& line : text.lines) {
            words.insert(words.end(), line.words.begin(), line.words.end());
        }
        ASSERT_EQ(words.size(), drawn.words.size());
        for (size_t i = 0; i < words.size(); ++i) {
            SCOPED_TRACE(words[i].text.toStdString());
            const QRectF& where = drawn.words[i].second;
            EXPECT_TRUE(where.contains(words[i].boundingBox.center()));
            // Not a box of half the size in the image's top-left quarter.
            EXPECT_GT(words[i].boundingBox.width(), 0.7 * where.width());
            EXPECT_LT(words[i].boundingBox.width(), 1.3 * where.width());
        }
    }
}

/// A window of `ground` with rounded buttons of the given colours, each with a white label.
QImage buttonsImage(QColor ground, const std::vector<std::pair<QString, QColor>>& buttons, int pixelSize = 13)
{
    QImage image(140 * static_cast<int>(buttons.size()) + 40, 90, QImage::Format_RGB32);
    image.fill(ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    for (size_t i = 0; i < buttons.size(); ++i) {
        const QRectF button(20 + 140 * static_cast<int>(i), 28, 120, 30);
        QPainterPath path;
        path.addRoundedRect(button, 6, 6);
        painter.fillPath(path, buttons[i].second);
        painter.setPen(Qt::white);
        painter.drawText(button, Qt::AlignCenter, buttons[i].first);
    }
    return image;
}

TEST(TextRecognizerTest, ReadsWhiteLabelsOnColouredAndGreyButtons)
{
    // The commonest controls on screen: light text on a ground of middle lightness. Read by the text's
    // contrast with its own ground, not by whether the ground is light or dark.
    const std::vector<std::pair<QString, QColor>> buttons{{QStringLiteral("Submit"), QColor(0x0a, 0x84, 0xff)},
                                                          {QStringLiteral("Install"), QColor(0x34, 0xc7, 0x59)},
                                                          {QStringLiteral("Archive"), QColor(0x8e, 0x8e, 0x93)},
                                                          {QStringLiteral("Delete"), QColor(0xff, 0x3b, 0x30)}};
    for (const QColor ground : {QColor(0xf5, 0xf5, 0xf7), QColor(0x1c, 0x1c, 0x1e)}) {
        SCOPED_TRACE(ground.name().toStdString());
        const QString text = sharedTextRecognizer()->recognize(buttonsImage(ground, buttons)).joinedLines();
        for (const auto& [label, colour] : buttons) {
            EXPECT_TRUE(text.contains(label)) << text.toStdString();
        }
    }
    // One blue button alone, with a small label.
    EXPECT_EQ(sharedTextRecognizer()
                  ->recognize(buttonsImage(Qt::white, {{QStringLiteral("Continue"), QColor(0x1a, 0x73, 0xe8)}}, 12))
                  .joinedLines(),
              QStringLiteral("Continue"));
}

TEST(TextRecognizerTest, ReadsLabelsOnShadedPushButtonsAtRatioTwo)
{
    // Push buttons shade their ground from top to bottom: spread over many grey levels, the ground is rarer
    // level by level than the black of its label's strokes, which at ratio 2 are thick, yet it is the ground.
    const QStringList labels{QStringLiteral("Socket"), QStringLiteral("Double"), QStringLiteral("Image")};
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    QWidget row;
    row.setStyle(fusion.get());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    row.setFont(font);
    auto* layout = new QHBoxLayout(&row);
    for (const QString& label : labels) {
        auto* button = new QPushButton(label);
        button->setStyle(fusion.get());
        layout->addWidget(button);
    }
    row.setAttribute(Qt::WA_DontShowOnScreen);
    row.resize(600, 44);
    row.show();
    QCoreApplication::processEvents();
    QImage image(QSize(600, 44) * 2, QImage::Format_RGB32);
    image.setDevicePixelRatio(2);
    image.fill(row.palette().window().color());
    row.render(&image);
    // Buttons far apart are lines of their own.
    EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
              labels.join(QLatin1Char('\n')).toStdString());
}

TEST(TextRecognizerTest, ReadsATerminalListingAtRatioTwo)
{
    // "-rw-r--r--" has no letter above or below the small ones, so its line looks half as high as the
    // listing's; it is scaled to the size the engine reads best, not rounded up to twice that at ratio 2.
    const QStringList lines{QStringLiteral("-rw-r--r--  1 user staff 88897  Mar 2 21:49  budget.txt"),
                            QStringLiteral("-rw-r--r--  1 user staff 4002  Mar 25 15:12  review.txt"),
                            QStringLiteral("-rw-r--r--  1 user staff 55219  Mar 4 18:24  invoice.txt")};
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    const QImage image = linesImage(lines, QSize(640, 120), 2, font, QColor(0x58, 0x6e, 0x75), QColor(0xfd, 0xf6, 0xe3),
                                    QPoint(10, 30), 20);
    const QString text = sharedTextRecognizer()->recognize(image).joinedLines();
    EXPECT_EQ(text.count(QStringLiteral("-rw-r--r--")), 3) << text.toStdString();
    for (const QString& word : {QStringLiteral("88897"), QStringLiteral("55219"), QStringLiteral("staff")}) {
        EXPECT_TRUE(text.contains(word)) << text.toStdString();
    }
}

TEST(TextRecognizerTest, KeepsTheFaintEdgesOfLettersInStatusBarTextAtRatioTwo)
{
    // Faint grey status text, at a few sub-pixel places as text falls. The steep left slant of an "A" shows no
    // step between pixels above each other, which is what sets a block's edges, so the block began inside the
    // letter and the letter was cleared with the block's surroundings ("Imost"); the tail of a "g", reaching
    // the edge of its block, was cleared with the whole letter ("bud et").
    struct Item {
        qreal x;
        QColor ink;
        QString text;
    };
    struct Case {
        QSize size;
        QColor ground;
        std::vector<Item> items;
        std::vector<qreal> shifts;
        std::string expected;
    };
    const Case cases[] = {
        {QSize(420, 26),
         QColor(0xf0, 0xf0, 0xf0),
         {{12, QColor(0x9a, 0x9a, 0x9a), QStringLiteral("Version cursor")},
          {140, QColor(0x8a, 0x8a, 0x8a), QStringLiteral("Almost cancel")},
          {260, QColor(0x9a, 0x9a, 0x9a), QStringLiteral("Antler vector")}},
         {0.0, 0.25, 0.5, 0.75},
         "Version cursor Almost cancel Antler vector"},
        {QSize(200, 26),
         QColor(0x33, 0x33, 0x33),
         {{12, QColor(0x75, 0x75, 0x75), QStringLiteral("Timer budget")}},
         {0.125, 0.375, 0.625, 0.875},
         "Timer budget"},
    };
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    for (const Case& test : cases) {
        for (const qreal shift : test.shifts) {
            SCOPED_TRACE(::testing::Message() << test.expected << " at " << shift);
            QImage image(test.size * 2, QImage::Format_RGB32);
            image.setDevicePixelRatio(2);
            image.fill(test.ground);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::TextAntialiasing);
            painter.setFont(font);
            for (const Item& item : test.items) {
                painter.setPen(item.ink);
                painter.drawText(QPointF(item.x + shift, 18), item.text);
            }
            painter.end();
            EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), test.expected);
        }
    }
}

TEST(TextRecognizerTest, KeepsTheDotsOfLettersWithTheirWordsAtRatioTwo)
{
    // A word standing apart (wide monospace gaps) whose rows leave a blank row between a letter and its dot:
    // cut there, "is" lost its dot and read "1s".
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(13);
    const QStringList lines{QStringLiteral("Counter to hidden is it"), QStringLiteral("Domain we anchor is search"),
                            QStringLiteral("Audio as linear is profile")};
    const QImage panel = linesImage(lines, QSize(420, 90), 2, mono, QColor(0xe0, 0xe8, 0xf0), QColor(0x1e, 0x3a, 0x5f),
                                    QPoint(14, 24), 22);
    EXPECT_EQ(sharedTextRecognizer()->recognize(panel).joinedLines().toStdString(),
              lines.join(QLatin1Char('\n')).toStdString());
}

TEST(TextRecognizerTest, ReadsShortWordsOfSmallLettersOnlyInTinyTextAtRatioTwo)
{
    // 8 px text: a word standing apart of letters without ascenders ("or", "so") is as low as the x-height,
    // lower than a line is taken to be, and was dropped as a rule or a dot.
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(8);
    const QStringList lines{QStringLiteral("danger  or  Yellow"), QStringLiteral("Option  so  Banner"),
                            QStringLiteral("Around  an  Filter")};
    for (const auto& [ink, ground] : bothPolarities) {
        SCOPED_TRACE(ground.name().toStdString());
        const QImage image = linesImage(lines, QSize(200, 60), 2, mono, ink, ground, QPoint(12, 16), 14);
        // Every word is read; where the short ones join their rows is another matter.
        const QString read = sharedTextRecognizer()->recognize(image).joinedLines();
        QStringList words = read.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        QStringList shown = lines.join(QLatin1Char(' ')).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        words.sort();
        shown.sort();
        EXPECT_EQ(words, shown) << read.toStdString();
    }
}

TEST(TextRecognizerTest, ReadsTheSelectedRowOfAListOfEitherPolarity)
{
    // The selected row is a bar of its own colour across the list, touching the rows above and below it,
    // with its label in its own colour: read with the other rows, in their order. The bar may lie between the
    // page and its label, or its label beyond it from the page: a blue bar lighter than a dark list with a
    // white label, a pale bar on a white list with a dark one.
    const QStringList rows{QStringLiteral("Listen session"), QStringLiteral("Silver table"),
                           QStringLiteral("Region master"), QStringLiteral("Alert memory"),
                           QStringLiteral("Object system")};
    struct Scheme {
        QColor page, text, bar, selectedText;
    };
    const Scheme schemes[] = {
        {Qt::white, QColor(0x1d, 0x1d, 0x1f), QColor(0x30, 0x8c, 0xc6), Qt::white},
        {QColor(0x1e, 0x1e, 0x1e), QColor(0xe0, 0xe0, 0xe0), QColor(0x26, 0x4f, 0x78), Qt::white},
        {Qt::white, QColor(0x1d, 0x1d, 0x1f), QColor(0xcc, 0xe8, 0xff), QColor(0x1d, 0x1d, 0x1f)},
    };
    for (const Scheme& scheme : schemes) {
        SCOPED_TRACE((scheme.page.name() + QLatin1Char(' ') + scheme.bar.name()).toStdString());
        QImage image(300, 40 + 16 * static_cast<int>(rows.size()), QImage::Format_RGB32);
        image.fill(scheme.page);
        QPainter painter(&image);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        painter.setFont(font);
        for (int i = 0; i < rows.size(); ++i) {
            const QRect row(10, 20 + 16 * i, 280, 16);
            const bool selected = i == 2;
            if (selected) {
                painter.fillRect(row, scheme.bar);
            }
            painter.setPen(selected ? scheme.selectedText : scheme.text);
            painter.drawText(row.adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, rows[i]);
        }
        painter.end();
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
                  rows.join(QLatin1Char('\n')).toStdString());
    }
}

TEST(TextRecognizerTest, ReadsSmallLabelsOfBadgesStandingCloseInARow)
{
    // A list row with its badges: 11 px bold white labels on pills twice their height, 10 px apart, in
    // light and dark colours, on a light and on a dark page. Each pill has its own ground, and its label is
    // read at its own height, not the pill's.
    const QStringList labels{QStringLiteral("online"), QStringLiteral("session"), QStringLiteral("email"),
                             QStringLiteral("random"), QStringLiteral("863")};
    const QColor colours[] = {QColor(0x0a, 0x84, 0xff), QColor(0xff, 0x95, 0x00), QColor(0x34, 0xc7, 0x59),
                              QColor(0x8e, 0x8e, 0x93), QColor(0xaf, 0x52, 0xde)};
    for (const QColor page : {QColor(Qt::white), QColor(0x24, 0x24, 0x26)}) {
        SCOPED_TRACE(page.name().toStdString());
        QImage image(560, 60, QImage::Format_RGB32);
        image.fill(page);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        painter.setFont(font);
        painter.setPen(page == Qt::white ? QColor(0x1d, 0x1d, 0x1f) : QColor(0xe5, 0xe5, 0xea));
        painter.drawText(20, 35, QStringLiteral("Symbol ladder"));
        font.setPixelSize(11);
        font.setBold(true);
        painter.setFont(font);
        qreal x = 140;
        for (int i = 0; i < labels.size(); ++i) {
            const qreal width = QFontMetricsF(font).horizontalAdvance(labels[i]) + 16;
            const QRectF pill(x, 20, width, 19);
            QPainterPath path;
            path.addRoundedRect(pill, 9.5, 9.5);
            painter.fillPath(path, colours[i]);
            painter.setPen(Qt::white);
            painter.drawText(pill, Qt::AlignCenter, labels[i]);
            x += width + 10;
        }
        painter.end();
        const QString text = sharedTextRecognizer()->recognize(image).joinedLines();
        EXPECT_EQ(text.toStdString(), ("Symbol ladder " + labels.join(QLatin1Char(' '))).toStdString());
    }
}

TEST(TextRecognizerTest, ReadsEveryLabelOfARowOfOutlinedButtonsStandingClose)
{
    // Buttons drawn as an oval outline of one pixel around their label, three pixels apart: the cut keeps the
    // row as one block, whose outlines the engine reads as brackets running into the letters, and whose last
    // label only the prepared reading finds. What the engine reads of the outlines as they stand, a bracket
    // between two buttons, is no word and is not counted. A capture whose edge cuts through the first or the
    // last outline leaves it open, enclosing its label only together with the edge: each label is read still.
    const QStringList labels{QStringLiteral("Apply"), QStringLiteral("Revert to Saved"), QStringLiteral("Close")};
    const auto wordsRead = [](const QString& text) {
        QStringList words = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        words.removeIf([](const QString& word) { return !word.contains(QRegularExpression(QStringLiteral("\\w"))); });
        return words.join(QLatin1Char(' ')).toStdString();
    };
    for (const int pixelSize : {11, 13}) {
        for (const auto& [ink, ground] : bothPolarities) {
            SCOPED_TRACE(::testing::Message() << pixelSize << " px on " << ground.name().toStdString());
            QImage image(420, 60, QImage::Format_RGB32);
            image.fill(ground);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(pixelSize);
            painter.setFont(font);
            painter.setPen(ink);
            const qreal height = pixelSize + 10;
            qreal x = 6.5;
            for (const QString& label : labels) {
                const QRectF button(x, 10.5, QFontMetricsF(font).horizontalAdvance(label) + 18, height);
                painter.drawRoundedRect(button, height / 2, height / 2);
                painter.drawText(button, Qt::AlignCenter, label);
                x = button.right() + 3;
            }
            painter.end();
            const int end = static_cast<int>(x) - 3; // the last outline's rightmost column
            const std::pair<const char*, QRect> captures[] = {
                {"whole", image.rect()},
                {"first outline cut", QRect(QPoint(11, 0), QPoint(end + 6, 59))},
                {"last outline cut", QRect(QPoint(0, 0), QPoint(end - 8, 59))}};
            for (const auto& [name, capture] : captures) {
                SCOPED_TRACE(name);
                EXPECT_EQ(wordsRead(sharedTextRecognizer()->recognize(image.copy(capture)).joinedLines()),
                          labels.join(QLatin1Char(' ')).toStdString());
            }
        }
    }
}

TEST(TextRecognizerTest, ReadsTextOnTransparentAndTranslucentGrounds)
{
    const QStringList lines{QStringLiteral("Quarterly budget review"), QStringLiteral("Download the invoice archive")};
    struct Case {
        const char* name;
        QColor ground;
        QColor ink;
    };
    const Case cases[] = {
        {"white text on a transparent ground", Qt::transparent, Qt::white},
        {"dark text on a transparent ground", Qt::transparent, QColor(0x22, 0x22, 0x22)},
        {"white text on a half-transparent dark panel", QColor(0x20, 0x20, 0x24, 140), Qt::white},
        {"dark text on a half-transparent light panel", QColor(0xf0, 0xf0, 0xf4, 150), QColor(0x1c, 0x1c, 0x1e)},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        QImage image(520, 90, QImage::Format_ARGB32_Premultiplied);
        image.fill(testCase.ground);
        QPainter painter(&image);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(14);
        painter.setFont(font);
        painter.setPen(testCase.ink);
        for (int i = 0; i < lines.size(); ++i) {
            painter.drawText(16, 32 + 24 * i, lines[i]);
        }
        painter.end();
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
                  lines.join(QLatin1Char('\n')).toStdString());
    }
}

TEST(TextRecognizerTest, KeepsLinesAsTheyStandOnScreen)
{
    // A form: each label with its field on one line, however far apart they stand; then a paragraph whose
    // lines stay lines. The words of a line are joined by blanks, lines by line feeds.
    QImage image(640, 220, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(QColor(0x22, 0x22, 0x22));
    painter.drawText(20, 30, QStringLiteral("Account:"));
    painter.drawText(130, 30, QStringLiteral("Quarterly budget"));
    painter.drawText(20, 62, QStringLiteral("Folder:"));
    painter.drawText(130, 62, QStringLiteral("Invoices"));
    painter.drawText(20, 130, QStringLiteral("Download the invoice archive before"));
    painter.drawText(20, 150, QStringLiteral("the end of the month"));
    painter.end();
    EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
              "Account: Quarterly budget\nFolder: Invoices\nDownload the invoice archive before\nthe end of the month");
}

TEST(TextRecognizerTest, KeepsTheRowsOfTablesAsLinesAndColumnsOfProseAsColumns)
{
    // Each column of a table is read as a block of its own; its rows are still the lines on screen, however
    // far apart the columns stand. Prose in two columns, its lines level with each other, stays in columns.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    const QFontMetrics metrics(font);
    const QList<QStringList> rows{
        {QStringLiteral("Invoice"), QStringLiteral("12"), QStringLiteral("4.50"), QStringLiteral("54.00")},
        {QStringLiteral("Budget"), QStringLiteral("3"), QStringLiteral("120.00"), QStringLiteral("360.00")},
        {QStringLiteral("Archive"), QStringLiteral("250"), QStringLiteral("0.75"), QStringLiteral("187.50")},
        {QStringLiteral("Review"), QStringLiteral("41"), QStringLiteral("16.25"), QStringLiteral("666.25")}};
    QImage table(760, 40 + 24 * static_cast<int>(rows.size()), QImage::Format_RGB32);
    table.fill(Qt::white);
    QPainter painter(&table);
    painter.setFont(font);
    painter.setPen(QColor(0x1a, 0x1a, 0x1a));
    QStringList expected;
    for (int row = 0; row < rows.size(); ++row) {
        const int baseline = 30 + 24 * row;
        painter.drawText(20, baseline, rows[row][0]);
        // Numbers stand at the right of columns 180 px wide.
        for (int column = 1; column < rows[row].size(); ++column) {
            const int right = 200 + 180 * column;
            painter.drawText(right - metrics.horizontalAdvance(rows[row][column]), baseline, rows[row][column]);
        }
        expected.append(rows[row].join(QLatin1Char(' ')));
    }
    painter.end();
    EXPECT_EQ(sharedTextRecognizer()->recognize(table).joinedLines().toStdString(),
              expected.join(QLatin1Char('\n')).toStdString());

    // A listing whose names stand apart from the rest of their lines.
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(14);
    const QStringList listing{QStringLiteral("-rw-r--r--  1 user staff  4002  Mar 25 15:12     review.txt"),
                              QStringLiteral("-rw-r--r--  1 user staff 88897  Mar  2 21:49     budget.txt"),
                              QStringLiteral("-rw-r--r--  1 user staff 55219  Mar  4 18:24     invoice.txt")};
    const QImage terminal = linesImage(listing, QSize(640, 90), 1, mono, QColor(0x33, 0x33, 0x33),
                                       QColor(0xfd, 0xf6, 0xe3), QPoint(10, 24), 20);
    const QStringList listed = sharedTextRecognizer()->recognize(terminal).joinedLines().split(QLatin1Char('\n'));
    ASSERT_EQ(listed.size(), 3) << listed.join(QLatin1Char('|')).toStdString();
    // Each line holds its own size and, at its end, its own name (whose dot the engine may set apart).
    for (int line = 0; line < listed.size(); ++line) {
        SCOPED_TRACE(line);
        const QStringList fields = listing[line].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString name = fields.last().section(QLatin1Char('.'), 0, 0);
        EXPECT_TRUE(listed[line].contains(fields[4])) << listed[line].toStdString();
        EXPECT_TRUE(listed[line].contains(name)) << listed[line].toStdString();
        EXPECT_TRUE(listed[line].endsWith(QStringLiteral("txt"))) << listed[line].toStdString();
    }

    // Two tables side by side under one row of numbers, which the cut reads as columns of short lines and as
    // cells of their own: the row above them is the header of both, and is read once.
    const QStringList numbers{QStringLiteral("0x7213  6bf05e36  47ed0f5d  de974dce  93d3ff25  64edd6d4"),
                              QStringLiteral("0x2E31  ab6e560a  #857F8A  0x608A  0xFA4C  d7fac02c")};
    QImage grid(QSize(640, 60) * 2, QImage::Format_RGB32);
    grid.setDevicePixelRatio(2);
    grid.fill(QColor(0xfa, 0xfa, 0xfa));
    painter.begin(&grid);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    for (int line = 0; line < numbers.size(); ++line) {
        QFont numberFont(QStringLiteral("DejaVu Sans Mono"));
        numberFont.setPixelSize(12);
        numberFont.setBold(line == 1);
        painter.setFont(numberFont);
        painter.drawText(QPointF(30, 27.2 + 17.2 * line), numbers[line]);
    }
    painter.end();
    QStringList read =
        sharedTextRecognizer()->recognize(grid).joinedLines().split(QRegularExpression(QStringLiteral("\\s+")));
    QStringList shown = numbers.join(QLatin1Char(' ')).split(QRegularExpression(QStringLiteral("\\s+")));
    read.sort();
    shown.sort();
    EXPECT_EQ(read.join(QLatin1Char(' ')).toStdString(), shown.join(QLatin1Char(' ')).toStdString());

    // Rows whose first cells are as wide as each other and stand apart from the rest, so that the cut parts
    // them as a column of cells: each row is still one line.
    const QStringList amounts{QStringLiteral("$96,417.83  $51,691.40 $78,554.09 66,666.77 USD 49,976.17 USD"),
                              QStringLiteral("$18,393.43  22,260.81 USD 6,590.58 USD 52,572.00 USD $15,028.25")};
    QFont small(QStringLiteral("DejaVu Sans Mono"));
    small.setPixelSize(10);
    const QImage ledger = linesImage(amounts, QSize(600, 60), 1, small, QColor(0x20, 0x20, 0x20),
                                     QColor(0xfa, 0xfa, 0xfa), QPoint(30, 20), 15);
    EXPECT_EQ(sharedTextRecognizer()->recognize(ledger).joinedLines().toStdString(), readAs(amounts));

    const QStringList left{QStringLiteral("Download the invoice archive"), QStringLiteral("before the end of the"),
                           QStringLiteral("month and check the budget")};
    const QStringList right{QStringLiteral("Review the quarterly report"), QStringLiteral("with the people in the"),
                            QStringLiteral("office before the meeting")};
    QImage prose(720, 100, QImage::Format_RGB32);
    prose.fill(Qt::white);
    painter.begin(&prose);
    painter.setFont(font);
    painter.setPen(QColor(0x22, 0x22, 0x22));
    for (int line = 0; line < left.size(); ++line) {
        painter.drawText(20, 30 + 20 * line, left[line]);
        painter.drawText(320, 30 + 20 * line, right[line]);
    }
    painter.end();
    EXPECT_EQ(sharedTextRecognizer()->recognize(prose).joinedLines().toStdString(),
              (left + right).join(QLatin1Char('\n')).toStdString());
}

TEST(TextRecognizerTest, KeepsTheWordsOfLargeTextOnOneLine)
{
    // Large text, or text at ratio 2, has wide gaps between its words; they are still gaps between words of
    // one line, read together in order, not blocks of their own.
    const QStringList lines{QStringLiteral("Quarterly budget review"), QStringLiteral("Download the invoice archive")};
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(30);
    for (const qreal ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        const QImage image =
            linesImage(lines, QSize(640, 150), ratio, font, QColor(0x22, 0x22, 0x22), Qt::white, QPoint(30, 60), 50);
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
                  lines.join(QLatin1Char('\n')).toStdString());
    }
    // A narrow letter standing apart in large text fills its box as a control's fill does, and is still a
    // letter of its word; the dot of a large bold serif "i" stands so close over its stem that it is no line.
    struct Large {
        const char* family;
        int pixelSize;
        bool bold;
        QString line;
        QSize size;
        int baseline;
    };
    for (const Large& large :
         {Large{"DejaVu Sans", 72, false, QStringLiteral("in linear at"), QSize(700, 200), 100},
          Large{"DejaVu Sans Mono", 72, true, QStringLiteral("v11.1.51  v0.37.156  v6.37.91"), QSize(1800, 200), 100},
          Large{"DejaVu Serif", 34, true, QStringLiteral("basket  is  ticket  index"), QSize(900, 100), 60}}) {
        SCOPED_TRACE(large.line.toStdString());
        QFont shown(QString::fromLatin1(large.family));
        shown.setPixelSize(large.pixelSize);
        shown.setBold(large.bold);
        const QImage image = linesImage({large.line}, large.size, 2, shown, QColor(0x20, 0x20, 0x20),
                                        QColor(0xfa, 0xfa, 0xfa), QPoint(30, large.baseline), 0);
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), readAs({large.line}));
    }
}

TEST(TextRecognizerTest, ReadsBoldHeadingsWithFiguresAtHeadingSizesInBothPolarities)
{
    // The strokes of large bold text fill much of a tight box around a word: they are not its ground, and a
    // word's last stroke beside a space is no edge of a control.
    const QStringList lines{QStringLiteral("Port 8080"), QStringLiteral("Build"), QStringLiteral("Orchid 4096"),
                            QStringLiteral("Release 2.14")};
    for (const int size : {22, 28, 34}) {
        for (const bool dark : {false, true}) {
            SCOPED_TRACE(::testing::Message() << size << " px, " << (dark ? "light on dark" : "dark on light"));
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(size);
            font.setBold(true);
            const QImage image = linesImage(
                lines, QSize(520, 40 + 6 * size), 1, font, dark ? QColor(0xee, 0xee, 0xee) : QColor(0x11, 0x11, 0x11),
                dark ? QColor(0x1e, 0x1e, 0x1e) : Qt::white, QPoint(30, 30 + size), qRound(1.3 * size));
            EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
                      lines.join(QLatin1Char('\n')).toStdString());
        }
    }
}

TEST(TextRecognizerTest, ReadsTheZerosAndOnesOfHexadecimalNumbersAsFigures)
{
    // The narrow zero of a screen font reads as an O to the engine, and a one among the letters of a hash
    // as an l; in a hexadecimal number they are figures, and the number is found by what it shows. Words of
    // letters keep their O and l.
    const QStringList lines{QStringLiteral("0x6DA3  #57AB0A  0xC7C6  Office"),
                            QStringLiteral("cf1cb447  a7d1e20c  72bd7e1d  Offline")};
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    const QImage image =
        linesImage(lines, QSize(480, 70), 1, font, QColor(0x20, 0x20, 0x20), Qt::white, QPoint(12, 26), 26);
    EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), readAs(lines));
}

TEST(TextRecognizerTest, ReadsTheFiguresOfHexadecimalNumbersThatTheEngineTakesForLetters)
{
    // At 12 px the engine reads a 5 or a 6 as S or G, a 1 as l and a 0 as O, where the word is a number: after
    // "0x", among the small letters of a hash, beside the figures of a colour. Words that only look like
    // numbers keep their letters, and so does a word with a number after it.
    const QStringList lines{
        QStringLiteral("0x16A0  #B056ED  0xA6E3  0x5CDA"), QStringLiteral("6b288abe  5adc8f6a  bec4fc19  afd0d2a1"),
        QStringLiteral("#1E5E0B  0xCD81  9b5fc0da  ecdf91c2"), QStringLiteral("Oxides  #BASE64  Cell2d  #ACCESS"),
        QStringLiteral("a1aebaf7  6fec1abb  34e1edcd  called12")};
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    expectReadInBothPolarities(lines, QSize(400, 127), font, QPoint(12, 24), 19);
    // A monospaced 1 at ratio 2 reads as two bars, the 1 and its foot ("3a007a111").
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(18);
    for (const auto& [ink, ground] : bothPolarities) {
        SCOPED_TRACE(ground.name().toStdString());
        const QImage image = linesImage({QStringLiteral("bec4fc19  3a007a11  b22351ab")}, QSize(580, 66), 2, mono, ink,
                                        ground, QPoint(12, 32), 0);
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), "bec4fc19 3a007a11 b22351ab");
    }
    // At 10 px, in a line of numbers, the engine reads the dotted zero of "0x2F07" as a 6, sure of it; the
    // number read alone shows its zero.
    const QStringList small{QStringLiteral("0x743F  0x2F07  #27E090  #1CA743  0x3C2A"),
                            QStringLiteral("0x5E3B  #6B0835  0x8D60  #350F6C  0x6053")};
    mono.setPixelSize(10);
    const QImage image =
        linesImage(small, QSize(600, 60), 1, mono, QColor(0x20, 0x20, 0x20), Qt::white, QPoint(8, 20), 20);
    EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), readAs(small));
}

TEST(TextRecognizerTest, ReadsTheGlyphsOfSmallHexadecimalNumbersThatTheEngineTakesForSigns)
{
    // At 10 px the dotted zero of a monospaced "0x" reads as a ® or an 8 ("®xCECB", "8x3C2A").
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(10);
    expectReadInBothPolarities({QStringLiteral("0xAA23  0x76D2  0xCECB  #ED8DCB  0x3C2A  8577af17"),
                                QStringLiteral("c76e5414  86e1cc  0x3C2A  e6f6ae  a1aebaf7")},
                               QSize(560, 52), mono, QPoint(10, 16), 16);
    // In small text the 1 after "0x" reads as an I beside an S for its 5 ("OxISEA"), the 8 of a hash as a B or
    // a section sign ("B577af17", "§241ea03"), and a c that a number read alone shows as a cent sign ("2848¢964").
    QFont serif(QStringLiteral("DejaVu Serif"));
    serif.setPixelSize(10);
    serif.setBold(true);
    expectReadInBothPolarities({QStringLiteral("#6054E6  0x0c72  0xEF30  b22351ab  ee07f07d  0x15EA")}, QSize(560, 36),
                               serif, QPoint(10, 16), 0);
    QFont sans(QStringLiteral("DejaVu Sans"));
    sans.setPixelSize(8);
    expectReadInBothPolarities({QStringLiteral("8241ea03  80fe37e9  8c46325d  8577af17  86e1cc")}, QSize(560, 36), sans,
                               QPoint(10, 16), 0);
    for (const auto& [ink, ground] : bothPolarities) {
        const QImage hashes = linesImage({QStringLiteral("c76e5414  8241ea03  0x3C2A  e6f6ae")}, QSize(560, 36), 1,
                                         sans, ink, ground, QPoint(10, 16), 0);
        const QString read = sharedTextRecognizer()->recognize(hashes).joinedLines();
        EXPECT_TRUE(read.startsWith(QStringLiteral("c76e5414 8241ea03 0x3C2A "))) << read.toStdString();
    }
    mono.setBold(true);
    const QStringList cents{QStringLiteral("0xAA23  0x76D2  0xCECB  #ED8DCB  2848c964  8577af17")};
    EXPECT_EQ(sharedTextRecognizer()
                  ->recognize(linesImage(cents, QSize(560, 36), 1, mono, QColor(0x20, 0x20, 0x20),
                                         QColor(0xfa, 0xfa, 0xfa), QPoint(10, 16), 0))
                  .joinedLines()
                  .toStdString(),
              readAs(cents));
}

TEST(TextRecognizerTest, ReadsLargeMonospacedHexadecimalNumbersWholeThoughTheirGlyphsStandApartAsWordsDo)
{
    // At 48 px the glyphs of a monospaced number stand as far apart as words of a proportional font: the engine
    // reads "043 f3ab0" and "el2f f30f". Words of letters and a word beside a number keep their spaces.
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(48);
    mono.setBold(true);
    const QString line = QStringLiteral("e12ff30f  043f3ab0  0x9F89  bad cafe  12 abc");
    for (const auto& [ink, ground] : bothPolarities) {
        SCOPED_TRACE(ground.name().toStdString());
        const QImage image = linesImage({line}, QSize(1320, 96), 1, mono, ink, ground, QPoint(20, 70), 0);
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), readAs({line}));
    }
}

TEST(TextRecognizerTest, ReadsOnceAFigureThatTheEngineReadsAsTwoGlyphsButKeepsItsRoughBoxesOfTwo)
{
    // Symbols as the engine gave them for 28 px and 10 px monospaced numbers: a second box that starts within a
    // figure's and ends a little beyond it is the same glyph read again, the dotted zero as a 6 and a 0 too. A box
    // that starts where the one before starts, or spans two glyphs, is the engine's rough box of a glyph of its own.
    const auto read = [](std::vector<recognition::Symbol> symbols) {
        recognition::readEachFigureOnce(symbols);
        QString text;
        for (const recognition::Symbol& symbol : symbols) {
            text += symbol.text;
        }
        return text.toStdString();
    };
    const auto symbol = [](const char* text, int left, int right) {
        return recognition::Symbol{QString::fromLatin1(text), left, 0, right, 20};
    };
    EXPECT_EQ(read({symbol("O", 13, 26), symbol("x", 29, 43), symbol("F", 48, 60), symbol("9", 63, 76),
                    symbol("O", 70, 80), symbol("1", 82, 93), symbol("E", 98, 110)}),
              "OxF91E");
    EXPECT_EQ(read({symbol("8", 53, 75), symbol("2", 78, 97), symbol(".", 109, 117), symbol("6", 127, 148),
                    symbol("6", 151, 172), symbol("0", 166, 180), symbol("1", 177, 196)}),
              "82.601");
    EXPECT_EQ(read({symbol("$", 17, 30), symbol("9", 32, 48), symbol("4", 32, 63), symbol(",", 68, 74),
                    symbol("8", 82, 99), symbol("4", 81, 127), symbol("4", 114, 131), symbol(".", 132, 138),
                    symbol("4", 144, 159), symbol("1", 161, 175)}),
              "$94,844.41");
    EXPECT_EQ(read({symbol("6", 525, 539), symbol("2", 541, 556), symbol(",", 559, 565), symbol("1", 568, 598),
                    symbol("2", 585, 597), symbol("4", 600, 616), symbol(".", 618, 623), symbol("6", 627, 641),
                    symbol("4", 642, 658)}),
              "62,124.64");
}

TEST(TextRecognizerTest, ReadsSmallHexadecimalNumbersWhoseGlyphsTheLineReadsAsOtherLettersAloneOfHexadecimalGlyphs)
{
    // In a line of 8 px bold monospaced numbers the engine reads "#69CB9D" as "F09CB9D"; read alone, of hexadecimal
    // glyphs only, it is the colour. Words of letters with a number in them keep their letters.
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(8);
    mono.setBold(true);
    expectReadInBothPolarities({QStringLiteral("#69CB9D  #27E090  4491d212  0xA860  2624b3cd  ba3eb7d0")},
                               QSize(600, 24), mono, QPoint(10, 16), 0);
    mono.setPixelSize(12);
    mono.setBold(false);
    const QStringList words{QStringLiteral("label12  called12  Office365  utf8mb4  h264enc  x86abc  a1b2c3d")};
    const QImage image = linesImage(words, QSize(600, 36), 1, mono, QColor(0x20, 0x20, 0x20), QColor(0xfa, 0xfa, 0xfa),
                                    QPoint(10, 24), 0);
    EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), readAs(words));
}

TEST(TextRecognizerTest, ReadsOnceAGlyphThatTheEngineReadsInTwoShapesAndKeepsAlikeNeighbours)
{
    // The foot of a monospaced l makes it an L to the engine as well: in the file names of a terminal listing
    // that a capture cuts out it read both ("Llength.txt"). Two alike letters side by side in a proportional
    // font are two glyphs and stay ("aroundDigital", "isSet", "Ossified").
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(14);
    const QFontMetricsF metrics(mono);
    QImage listing(200, 100, QImage::Format_RGB32);
    listing.fill(QColor(0x0c, 0x0c, 0x0c));
    {
        QPainter painter(&listing);
        painter.setFont(mono);
        painter.setPen(QColor(0xcc, 0xcc, 0xcc));
        const std::array<std::pair<const char*, const char*>, 4> rows{
            {{"-rw-r--r--  1 user staff  74432  Mar 23 15:57  length.txt", "timer ground"},
             {"-rw-r--r--  1 user staff  15226  Mar 16 16:51  commit.txt", "content editor"},
             {"-rw-r--r--  1 user staff  58155  Mar  4 19:36  append.txt", "canvas default"},
             {"-rw-r--r--  1 user staff  73731  Mar  5 17:54  commit.txt", "spring album"}}};
        for (size_t i = 0; i < rows.size(); ++i) {
            const QString row = QString::fromLatin1(rows[i].first);
            const QPointF start(-370, 34 + 20 * static_cast<qreal>(i));
            painter.drawText(start, row);
            painter.drawText(start + QPointF(metrics.horizontalAdvance(row) + 40, 0),
                             QString::fromLatin1(rows[i].second));
        }
    }
    const QString read = sharedTextRecognizer()->recognize(listing).joinedLines();
    EXPECT_TRUE(read.split(QRegularExpression(QStringLiteral("\\s+"))).contains(QStringLiteral("length.txt")))
        << read.toStdString();
    const QStringList neighbours{QStringLiteral("Illinois  fill  burn  fix  aroundDigital  isSet  Ossified"),
                                 QStringLiteral("Collected  classOf  hasShadow  offline  Swiss  Wow  Zoo  coolOcean")};
    for (const char* family : {"DejaVu Sans", "DejaVu Serif"}) {
        SCOPED_TRACE(family);
        QFont font{QString::fromLatin1(family)};
        font.setPixelSize(14);
        const QImage image = linesImage(neighbours, QSize(620, 70), 1, font, QColor(0x20, 0x20, 0x20),
                                        QColor(0xfa, 0xfa, 0xfa), QPoint(12, 26), 26);
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), readAs(neighbours));
    }
}

TEST(TextRecognizerTest, ReadsTheDottedZerosOfSmallMonospacedFiguresAsZeros)
{
    // In a line of 9 px monospaced figures the engine reads a dotted zero as a 6 or an 8 ("264101", "1998-16-26",
    // "661.10"), and a 0 beside a 6 as a 6 too; the time, the amount and the date are found by what they show.
    const QStringList lines{QStringLiteral("09:48:11  05:43:32  204101"),
                            QStringLiteral("759980  301  $320.09  601.10"), QStringLiteral("01/07/2028  1998-10-26")};
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(9);
    expectReadInBothPolarities(lines, QSize(260, 68), mono, QPoint(10, 18), 16);
    // So are those of versions, and their 1 as an l, their zero as an @ ("v1.16.72", "v8.22.73", "v@.5.57").
    expectReadInBothPolarities({QStringLiteral("v1.10.72  v0.22.73  v0.5.57  4.20.7  v1.0.3")}, QSize(560, 36), mono,
                               QPoint(10, 16), 0);
}

TEST(TextRecognizerTest, ReadsSmallSerifFiguresAsTwoOfTheirReadingsAloneAgreeWhereTheLineMisreadsThem)
{
    // In lines of 8 px serif addresses the engine reads "134.31.211.99" as "134.51.211.99" and, bold and light on
    // dark, "71.10.127.231:511" as "71.10.127.251:511"; read alone, enlarged twice it reads them as the line does,
    // enlarged one and a half and three times as drawn.
    QFont serif(QStringLiteral("DejaVu Serif"));
    serif.setPixelSize(8);
    const std::array<std::tuple<bool, QString, QString>, 2> lines{
        std::tuple{false,
                   QStringLiteral("27.178.190.252  150.117.143.98:2797  47.170.250.101  72.25.199.223  134.31.211.99  "
                                  "248.69.119.18:8664"),
                   QStringLiteral("134.31.211.99")},
        std::tuple{true,
                   QStringLiteral("238.60.172.90  71.10.127.231:511  193.133.97.193  82.173.130.150  229.239.52.97  "
                                  "179.198.227.131"),
                   QStringLiteral("71.10.127.231:511")}};
    for (const auto& [bold, line, number] : lines) {
        serif.setBold(bold);
        const auto& [ink, ground] = bothPolarities[bold ? 1 : 0];
        const QImage image = linesImage({line}, QSize(460, 30), 1, serif, ink, ground, QPoint(10, 16), 0);
        const QString read = sharedTextRecognizer()->recognize(image).joinedLines();
        EXPECT_TRUE(read.split(QLatin1Char(' ')).contains(number)) << read.toStdString();
    }
}

TEST(TextRecognizerTest, SetsApartAWordAndANumberThatTheEngineRunsTogether)
{
    // At 14 px the engine drops the space between a month and its day ("Jul5,") or a time and "PM": they are
    // two words, each found by what it shows. A number and the letters of its own word stay one.
    const QStringList lines{QStringLiteral("Apr 5, 2023  Jul 5, 2006  Apr 1, 2011"),
                            QStringLiteral("6:45 AM  3:44 PM  9:35 PM  10:09 AM"),
                            QStringLiteral("16GB  v12  4K  2x  MP3  H264")};
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    expectReadInBothPolarities(lines, QSize(460, 101), font, QPoint(12, 27), 22);
    // In a serif font, light on dark, a reading whose box of a time reaches over its "AM" read the "AM" twice.
    QFont serif(QStringLiteral("DejaVu Serif"));
    serif.setPixelSize(14);
    const QImage times = linesImage({QStringLiteral("11:31 AM  11:38 AM  11:27 AM  5:04 PM")}, QSize(460, 56), 1, serif,
                                    QColor(0xe6, 0xe6, 0xe6), QColor(0x1e, 0x1f, 0x22), QPoint(12, 27), 0);
    EXPECT_EQ(sharedTextRecognizer()->recognize(times).joinedLines().toStdString(),
              "11:31 AM 11:38 AM 11:27 AM 5:04 PM");
}

TEST(TextRecognizerTest, SetsApartATimeAndItsHalfOfTheDayWhereAnyReadingSeesTheSpaceInTinyText)
{
    // At 8 px the engine's boxes are too rough to measure the space of "9:33 PM", light on dark, and the reading
    // worth most runs it together; a reading of the block at another scale sees it. Sizes and versions, whose
    // letters no reading sets apart from their figures, stay whole.
    const QStringList lines{QStringLiteral("09:35:52  6:41 PM  11:32 PM  9:33 PM  12:22 PM  7:14 AM"),
                            QStringLiteral("10:17 PM  3:53 PM  12:55 AM  6:45 AM  12:08 AM"),
                            QStringLiteral("2:43 AM  9:35 PM  11:01 PM  8:32 AM  4:01 PM"),
                            QStringLiteral("16GB  v12  2x  MP3  32GB  8MB  512KB")};
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(8);
    expectReadInBothPolarities(lines, QSize(420, 84), font, QPoint(10, 18), 16);
}

TEST(TextRecognizerTest, ReadsSmallMonospacedAddressesWholeAndKeepsTheSpacesBesideThem)
{
    // At 9 px the ink after a monospaced point stands as far from it as words stand apart in other fonts: the
    // engine reads "83 .243.39.167" and "150.117. 143.98". A space there would be a whole advance wider.
    const QStringList lines{QStringLiteral("83.243.39.167  13.19.211.138  25.94.15.233"),
                            QStringLiteral("150.117.143.98  172.16.254.31"),
                            QStringLiteral("at 12.4.5.1 and 12.4.5.2  3.50 EUR")};
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(9);
    expectReadInBothPolarities(lines, QSize(340, 70), mono, QPoint(10, 18), 16);
}

TEST(TextRecognizerTest, ReadsLargeBoldFiguresThatStandApartFromTheirPoints)
{
    // In a large bold monospaced font the "0" of "0.74" stands apart from its point as far as words do, and
    // its strokes fill most of its box: it is still a figure on the page's ground, read with its number.
    const QStringList lines{QStringLiteral("4.53  0.74  8.28  0.42")};
    for (const int size : {34, 48}) {
        for (const bool dark : {false, true}) {
            SCOPED_TRACE(::testing::Message() << size << " px, " << (dark ? "light on dark" : "dark on light"));
            QFont font(QStringLiteral("DejaVu Sans Mono"));
            font.setPixelSize(size);
            font.setBold(true);
            const QImage image =
                linesImage(lines, QSize(40 + 14 * size, 3 * size), 1, font,
                           dark ? QColor(0xe6, 0xe6, 0xe6) : QColor(0x20, 0x20, 0x20),
                           dark ? QColor(0x1e, 0x1f, 0x22) : QColor(0xfa, 0xfa, 0xfa), QPoint(20, 2 * size), 0);
            EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), "4.53 0.74 8.28 0.42");
        }
    }
}

TEST(TextRecognizerTest, ReadsTheShortWordsOfDensePanelsOfSmallText)
{
    // Items of a panel standing two spaces apart: the short words between them ("so", "a") are read with
    // the line around them, not on their own, where the engine misreads or drops them.
    const QStringList lines{QStringLiteral("Saved  to  disk  so  it  is  in  the  cloud"),
                            QStringLiteral("Sync  is  on  and  up  to  date"),
                            QStringLiteral("Go  to  the  folder  and  pick  a  file"),
                            QStringLiteral("It  is  so  if  we  do  it  by  hand")};
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    const std::pair<QColor, QColor> schemes[] = {{QColor(0xc8, 0xc8, 0xc8), QColor(0x25, 0x26, 0x2b)},
                                                 {QColor(0x93, 0xa1, 0xa1), QColor(0x00, 0x2b, 0x36)}};
    for (const auto& [ink, ground] : schemes) {
        SCOPED_TRACE(ground.name().toStdString());
        const QImage panel = linesImage(lines, QSize(420, 150), 1, font, ink, ground, QPoint(12, 20), 17);
        // The engine may take an "is" for "IS": the words are what is searched for.
        const QString read = sharedTextRecognizer()->recognize(panel).joinedLines().toLower();
        EXPECT_EQ(read.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts),
                  lines.join(QLatin1Char(' ')).toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts))
            << read.toStdString();
    }
}

TEST(TextRecognizerTest, ReadsATableRowByRowWithItsHeaderFirstAndEveryCell)
{
    // The header's sections are controls of their own, their labels centred over the cells: the header is
    // still one row, and comes first.
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    QTableWidget table(3, 3);
    table.setStyle(fusion.get());
    table.setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Qty"), QStringLiteral("Price")});
    const QList<QStringList> rows{{QStringLiteral("Walnut"), QStringLiteral("12"), QStringLiteral("3.50")},
                                  {QStringLiteral("Banana"), QStringLiteral("7"), QStringLiteral("0.99")},
                                  {QStringLiteral("Cherry"), QStringLiteral("150"), QStringLiteral("12.00")}};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            table.setItem(row, column, new QTableWidgetItem(rows[row][column]));
        }
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    table.setFont(font);
    table.resize(360, 160);
    table.setAttribute(Qt::WA_DontShowOnScreen);
    table.show();
    QImage image(table.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    table.render(&image);
    // The rows' numbers stand in the table's own header column.
    EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
              "Name Qty Price\n1 Walnut 12 3.50\n2 Banana 7 0.99\n3 Cherry 150 12.00");
}

TEST(TextRecognizerTest, ReadsTheLinesOfATextAreaBesideItsStippledScrollBarInBothPolarities)
{
    // A text area's stippled scroll bar at the capture's edge, its border touching the first letters or two or
    // three pixels from them: neither the border nor the stipple changes a letter ("ort" or "fort" for "Port"). The
    // edge may cut the bar to a strip of four pixels, which alone would hold the lines together as one.
    for (const auto& [ink, ground] : bothPolarities) {
        for (const int pixelSize : {14, 20}) {
            for (const auto& [bar, gap] : {std::pair{12, 0}, std::pair{12, 2}, std::pair{12, 3}, std::pair{4, 2}}) {
                SCOPED_TRACE(::testing::Message() << ground.name().toStdString() << ", " << pixelSize << " px, " << gap
                                                  << " px from the border of a bar " << bar << " px wide");
                QFont font(QStringLiteral("DejaVu Sans Mono"));
                font.setPixelSize(pixelSize);
                font.setBold(true);
                const QFontMetricsF metrics(font);
                QImage image = stippledScrollBarArea(QSize(300, 3 * pixelSize + 12), ink, ground, bar);
                QPainter painter(&image);
                painter.setFont(font);
                painter.setPen(ink);
                for (const auto& [line, baseline] : {std::pair{"Port 8080 ready", 6 + pixelSize},
                                                     std::pair{"Build 4096 done", 6 + 5 * pixelSize / 2}}) {
                    painter.drawText(QPointF(bar + 1 + gap - metrics.leftBearing(QLatin1Char(line[0])), baseline),
                                     QString::fromLatin1(line));
                }
                painter.end();
                EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
                          "Port 8080 ready\nBuild 4096 done");
            }
        }
    }
}

TEST(TextRecognizerTest, ReadsTheEndOfALineThatReachesBeyondTheOthersWithinItsLine)
{
    // A message window beside a stippled scroll bar whose second line reaches a word further right than every
    // other line: its end is no column of its own, read after the last line ("Qty 12 Price 3.50\n12.50 EUR").
    const QStringList lines{QStringLiteral("Build 2417 finished"), QStringLiteral("Invoice 4096 total 12.50 EUR"),
                            QStringLiteral("Port 8080 ready"), QStringLiteral("Orchid 4096"),
                            QStringLiteral("Qty 12 Price 3.50")};
    for (const auto& [ink, ground] : bothPolarities) {
        for (const int pixelSize : {12, 14, 20}) {
            SCOPED_TRACE(::testing::Message() << ground.name().toStdString() << ", " << pixelSize << " px");
            QFont font(QStringLiteral("DejaVu Sans Mono"));
            font.setPixelSize(pixelSize);
            font.setBold(true);
            const int spacing = 18 * pixelSize / 14;
            QImage image =
                stippledScrollBarArea(QSize(420, 12 + spacing * static_cast<int>(lines.size())), ink, ground);
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(ink);
            for (int i = 0; i < lines.size(); ++i) {
                painter.drawText(QPointF(20, 6 + QFontMetricsF(font).ascent() + spacing * i), lines[i]);
            }
            painter.end();
            EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
                      lines.join(QLatin1Char('\n')).toStdString());
        }
    }
}

TEST(TextRecognizerTest, ReadsTheLinesOfASmallWindowWhoseFrameTheCaptureCutsAtBothEnds)
{
    // A message window lower than a window's edge is long, its frame running from the capture's top to its
    // bottom beside a text area with a stippled scroll bar, a rule and a button: the frame holds them all in
    // one block, read as one line ("meer ase an").
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(12);
    font.setBold(true);
    const QFontMetricsF metrics(font);
    for (const auto& [ink, ground] : bothPolarities) {
        SCOPED_TRACE(ground.name().toStdString());
        QImage image(420, 63, QImage::Format_RGB32);
        image.fill(ground);
        QPainter painter(&image);
        painter.fillRect(QRect(0, 0, 1, 63), ink);
        painter.fillRect(QRect(5, 0, 1, 34), ink);
        painter.fillRect(QRect(6, 0, 14, 34), QBrush(ink, Qt::Dense4Pattern));
        painter.fillRect(QRect(20, 0, 1, 34), ink);
        painter.fillRect(QRect(5, 34, 415, 1), ink);
        painter.setFont(font);
        painter.setPen(ink);
        painter.drawText(QPointF(23, 4 + metrics.ascent()), QStringLiteral("Invoice 4096 total 12.50 EUR"));
        painter.drawText(QPointF(23, 4 + metrics.ascent() + 15), QStringLiteral("Port 8080 ready"));
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawRoundedRect(QRectF(9, 39.5, 38, 22), 8, 8);
        painter.drawText(QPointF(15, 54), QStringLiteral("okay"));
        painter.end();
        const QString text = sharedTextRecognizer()->recognize(image).joinedLines();
        EXPECT_TRUE(text.startsWith(QLatin1String("Invoice 4096 total 12.50 EUR\nPort 8080 ready")))
            << text.toStdString();
    }
}

TEST(TextRecognizerTest, ReadsAWordWhoseFirstLetterTheEdgeOfTheCaptureCuts)
{
    // A drag that starts a pixel or two inside the first letter: the cut letter is read, and the word's box
    // stays in the image.
    for (const bool dark : {false, true}) {
        for (const int cut : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << cut << " px cut, " << (dark ? "dark" : "light"));
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(16);
            const QFontMetricsF metrics(font);
            QImage image(110, 32, QImage::Format_RGB32);
            image.fill(dark ? QColor(0x22, 0x22, 0x22) : Qt::white);
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(dark ? QColor(0xe8, 0xe8, 0xe8) : QColor(0x18, 0x18, 0x18));
            painter.drawText(QPointF(-metrics.leftBearing(QLatin1Char('Q')) - cut, 22), QStringLiteral("Quantum"));
            painter.end();
            const RecognizedText text = sharedTextRecognizer()->recognize(image);
            ASSERT_EQ(text.joinedLines().toStdString(), "Quantum");
            const QRectF box = text.lines.front().words.front().boundingBox;
            EXPECT_GE(box.left(), 0);
            EXPECT_LE(box.left(), 2);
            EXPECT_LE(box.right(), image.width());
        }
    }
}

TEST(TextRecognizerTest, ReadsWhatTheEngineReadsOnTheBlockAsItStandsWhereThePreparationLosesIt)
{
    // Faint 11 px status text: scaled and stretched, the "rn" of "kernel" runs together into an "m" that the
    // engine reads on the block as it stands.
    const QStringList lines{QStringLiteral("Modern corner return kernel turn")};
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    for (const auto& [ink, ground] : {std::pair{QColor(0x9a, 0x9a, 0x9a), QColor(Qt::white)},
                                      std::pair{QColor(0x85, 0x85, 0x85), QColor(0x25, 0x25, 0x26)}}) {
        SCOPED_TRACE(ground.name().toStdString());
        const QImage image = linesImage(lines, QSize(420, 40), 1, font, ink, ground, QPoint(12, 26), 0);
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), lines.front().toStdString());
    }
    // A short label in a rounded button whose left end the capture's edge cuts: the prepared block, the button
    // around the label, reads nothing at all, the block as it stands the label.
    QFont bold(QStringLiteral("DejaVu Sans Mono"));
    bold.setPixelSize(13);
    bold.setBold(true);
    for (const auto& [ink, ground] : bothPolarities) {
        for (const int inset : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << ground.name().toStdString() << ", inset " << inset);
            const QRectF word = QFontMetricsF(bold).tightBoundingRect(QStringLiteral("okay"));
            const QRectF label(QPointF(6, 13), word.size());
            QImage image(60, 39, QImage::Format_RGB32);
            image.fill(ground);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(ink);
            painter.drawRoundedRect(label.adjusted(-inset - 6, -inset - 2, inset + 6, inset + 2), 8, 8);
            painter.setFont(bold);
            painter.drawText(label.topLeft() - word.topLeft(), QStringLiteral("okay"));
            painter.end();
            const QString text = sharedTextRecognizer()->recognize(image).joinedLines();
            EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("\\bokay\\b")))) << text.toStdString();
        }
    }
    // A message in its frame, drawn without smoothing as a bitmap font is: enlarged, the m of "attempt" parts into
    // the r and n of a word the engine is sure of; the block as it stands reads the m, if read as lines: the frame
    // holds ink in every row of it.
    QFont bitmap(QStringLiteral("DejaVu Sans"));
    bitmap.setPixelSize(13);
    bitmap.setStyleStrategy(QFont::NoAntialias);
    const QStringList message{QStringLiteral("The attempt to mount the remote folder timed out."),
                              QStringLiteral("Contact your administrator or try it at another time.")};
    const QFontMetricsF metrics(bitmap);
    const int lineHeight = static_cast<int>(metrics.height()) + 4;
    const int width = static_cast<int>(metrics.horizontalAdvance(message[1])) + 30;
    for (const auto& [ink, ground] : bothPolarities) {
        SCOPED_TRACE(ground.name().toStdString());
        QImage image(width, 2 * lineHeight + 30, QImage::Format_RGB32);
        image.fill(ground.darker(110));
        QPainter painter(&image);
        const QRect frame(6, 6, width - 12, 2 * lineHeight + 14);
        painter.fillRect(frame, ground);
        painter.setPen(ink);
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
        painter.setFont(bitmap);
        for (int i = 0; i < message.size(); ++i) {
            painter.drawText(QPointF(14, 12 + lineHeight * i + metrics.ascent()), message[i]);
        }
        painter.end();
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(), readAs(message));
    }
}

TEST(TextRecognizerTest, KeepsTheReadingOfAWordThatMostReadingsAgreeOnNotTheSurestOne)
{
    // Cells of a column of figures in a serif font at ratio 2, with rules under them: the block as it stands
    // reads "42" as "A2", a little surer of it than the prepared block is of "42".
    QFont serif(QStringLiteral("DejaVu Serif"));
    serif.setPixelSize(21);
    const QStringList cells{QStringLiteral("42"), QStringLiteral("237"), QStringLiteral("156"), QStringLiteral("180")};
    for (const qreal shift : {0.0, 0.25, 0.5, 0.75}) {
        SCOPED_TRACE(shift);
        QImage image(QSize(160, 60 + 42 * static_cast<int>(cells.size())) * 2, QImage::Format_RGB32);
        image.setDevicePixelRatio(2);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(serif);
        painter.setPen(QColor(0x1a, 0x1a, 0x1a));
        for (int i = 0; i < cells.size(); ++i) {
            const QRectF cell(10 + shift, 20 + 42 * i, 136, 42);
            painter.drawText(cell.adjusted(10, 0, -10, 0), Qt::AlignRight | Qt::AlignVCenter, cells[i]);
            painter.fillRect(QRectF(cell.left(), cell.bottom(), cell.width(), 1), QColor(0xc8, 0xc8, 0xc8));
        }
        painter.end();
        EXPECT_EQ(sharedTextRecognizer()->recognize(image).joinedLines().toStdString(),
                  cells.join(QLatin1Char('\n')).toStdString());
    }
    // Faint small text on a dark window: two readings of three join the r and n of "modern" into the m of
    // "modem", a word the engine knows; the reading that sees them apart is right.
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(11);
    const QString line = QStringLiteral("select signal listen manual modern");
    const QImage faint = linesImage({line}, QSize(400, 30), 1, small, QColor(0x85, 0x85, 0x85),
                                    QColor(0x25, 0x25, 0x26), QPoint(40, 16), 0);
    EXPECT_EQ(sharedTextRecognizer()->recognize(faint).joinedLines().toStdString(), line.toStdString());
    // Identifiers in 12 px monospaced text, regular over bold: the block as it stands runs "stream_enough"
    // together into "streamenough", the rescaled block takes its underscore for a blank and reads two words.
    // These two do not agree, and the prepared reading, which sees the underscore, is not outvoted.
    const QStringList identifiers{QStringLiteral("public_common  stream_enough  meadowEnable  requestBrowser"),
                                  QStringLiteral("RELEASE_ONLINE  pocket_submit  socketChapter  targetProject")};
    QImage code(460, 60, QImage::Format_RGB32);
    code.fill(QColor(0xfa, 0xfa, 0xfa));
    QPainter painter(&code);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(12);
    for (int i = 0; i < identifiers.size(); ++i) {
        mono.setBold(i == 1);
        painter.setFont(mono);
        painter.drawText(QPointF(12, 22 + 17.2 * i), identifiers[i]);
    }
    painter.end();
    EXPECT_EQ(sharedTextRecognizer()->recognize(code).joinedLines().toStdString(), readAs(identifiers));
}

TEST(TextRecognizerTest, ReadsTheLinesOfAFramedDialogShownSmallAsTheEngineDoesAtLeast)
{
    // A picture of a dialog shown at about half its size (as in the detail pane): its lines of bold text set
    // close in a frame beside a grey bar, the frame and the longest line cut by the picture's edge, a button below.
    // Nothing parts its lines, so the cut takes the frame for one block as high as itself, in which nothing was read,
    // where the engine reads the lines.
    const QStringList lines{QStringLiteral("Version 2.4.1 was released on 2024-03-15 at 14:30."),
                            QStringLiteral("Server 192.168.10.25 answered in 35 ms; checksum 0x3fa9c2."),
                            QStringLiteral("Short line."),
                            QStringLiteral("A much longer line of ordinary prose that goes on and on so that the "
                                           "window is wide enough to hold it all.")};
    QImage dialog(960, 144, QImage::Format_RGB32);
    dialog.fill(Qt::white);
    QPainter painter(&dialog);
    painter.setPen(Qt::black);
    painter.drawRect(QRect(1, 1, 1100, 91));
    painter.fillRect(QRect(2, 2, 12, 90), QColor(0x80, 0x80, 0x80));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(18);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    for (int i = 0; i < lines.size(); ++i) {
        painter.drawText(18, 17 + 21 * i, lines[i]);
    }
    painter.drawRoundedRect(QRect(2, 100, 68, 28), 14, 14);
    painter.drawText(10, 120, QStringLiteral("Apply"));
    painter.end();
    for (const double scale : {0.5, 0.6}) {
        SCOPED_TRACE(scale);
        const QImage image = dialog.scaled(dialog.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QString read = sharedTextRecognizer()->recognize(image).joinedLines();
        for (const QString& word : QStringList{QStringLiteral("released"), QStringLiteral("Short"),
                                               QStringLiteral("longer"), QStringLiteral("ordinary")}) {
            EXPECT_TRUE(read.contains(word)) << read.toStdString();
        }
    }
}

/// A reading of one block: its lines of words, each word with its left and right edge and its confidence, all on
/// the line from y = 10 to 22.
std::vector<recognition::ReadLine>
readingOf(const std::vector<std::vector<std::tuple<const char*, int, int, float>>>& lines)
{
    std::vector<recognition::ReadLine> reading;
    for (size_t i = 0; i < lines.size(); ++i) {
        recognition::ReadLine& line = reading.emplace_back();
        const qreal top = 10 + 20 * static_cast<qreal>(i);
        for (const auto& [text, left, right, confidence] : lines[i]) {
            const QRectF box(QPointF(left, top), QPointF(right, top + 12));
            line.line.words.push_back(RecognizedWord{QString::fromUtf8(text), box, confidence});
            line.line.boundingBox = line.line.boundingBox.isNull() ? box : line.line.boundingBox.united(box);
        }
        recognition::spellFromWords(line.line);
    }
    return reading;
}

std::string textOf(const std::vector<recognition::ReadLine>& reading)
{
    QStringList lines;
    for (const recognition::ReadLine& line : reading) {
        lines.append(line.line.text);
    }
    return lines.join(QLatin1Char('\n')).toStdString();
}

TEST(TextRecognizerTest, TheReadingsOfABlockAgreeOnEveryWordAnyOfThemIsSureOfAndReadNoneTwice)
{
    // The reading worth most drops the last label of a row of buttons, which another reads fairly surely; the
    // unsure readings of a block as it stands spell a word together with the one before it, in its place.
    std::vector<std::vector<recognition::ReadLine>> buttons;
    buttons.push_back(readingOf({{{"Apply", 22, 58, 93}, {"Revert", 80, 122, 96}, {"Saved", 144, 182, 97}}}));
    buttons.push_back(readingOf(
        {{{"Apply", 21, 58, 70}, {"Revert", 80, 122, 70}, {"Saved", 144, 182, 70}, {"Close", 205, 239, 70}}}));
    // A line that only a third reads is read too, but not what the engine doubts or what holds no letter.
    buttons.push_back(readingOf({{{"Apply", 21, 58, 80}, {"Saved", 144, 182, 80}, {"Gl", 250, 262, 40}},
                                 {{"|", 5, 8, 90}, {"Discard", 40, 90, 75}}}));
    EXPECT_EQ(textOf(recognition::agreedReading(std::move(buttons))), "Apply Revert Saved Close\nDiscard");
    std::vector<std::vector<recognition::ReadLine>> prose;
    prose.push_back(
        readingOf({{{"out", 192, 206, 96}, {"of", 210, 220, 97}, {"the", 223, 237, 97}, {"office.", 241, 269, 96}}}));
    prose.push_back(readingOf({{{"out", 192, 220, 45}, {"ofthe", 223, 237, 57}, {"offe", 241, 266, 18}}}));
    prose.push_back(readingOf({{{"ct", 194, 206, 57}, {"ofthe", 223, 238, 57}, {"ofc.", 241, 270, 59}}}));
    EXPECT_EQ(textOf(recognition::agreedReading(std::move(prose))), "out of the office.");
}

TEST(TextRecognizerTest, ReadingsAlikeInTheirErrorsGiveWayToTheSpellingTheDictionaryKnows)
{
    // A message in a bitmap font: enlarged, the prepared and the rescaled block lose the bar of each t alike, and
    // the prepared one parts the strokes of an m into an r and an n; the block as it stands, less sure of every
    // word, reads them as drawn. A spelling the dictionary lacks gives way to one it knows that differs in a
    // letter, but no further: "lo" is a word too, and "Comection" is farther from "Connection" than a letter in
    // three. Nor are two words it knows run together into one it lacks where a reading sees the blank between.
    const auto enlarged = [](const char* attempt) {
        return readingOf(
            {{{"Connection", 10, 80, 68}, {"lo", 86, 98, 78}, {"porl", 150, 176, 85}, {"oul.", 230, 250, 94}},
             {{"Last", 10, 36, 93}, {attempt, 42, 96, 90}},
             {{"AlAssistant", 10, 90, 90}}});
    };
    std::vector<std::vector<recognition::ReadLine>> message;
    message.push_back(enlarged("atternpt:"));
    message.push_back(
        readingOf({{{"Comection", 10, 80, 48}, {"to", 86, 98, 44}, {"port", 150, 176, 74}, {"out", 230, 250, 75}},
                   {{"Last", 10, 36, 95}, {"attempt:", 42, 96, 85}},
                   {{"Al", 10, 24, 86}, {"Assistant", 30, 90, 87}}}));
    message.push_back(enlarged("attempt:"));
    const QStringList known{QStringLiteral("Connection"), QStringLiteral("lo"),  QStringLiteral("to"),
                            QStringLiteral("port"),       QStringLiteral("out"), QStringLiteral("Last"),
                            QStringLiteral("attempt"),    QStringLiteral("Al"),  QStringLiteral("Assistant")};
    const auto isWord = [&known](const QString& word) { return known.contains(word); };
    EXPECT_EQ(textOf(recognition::agreedReading(std::move(message), isWord)),
              "Connection lo port out\nLast attempt:\nAl Assistant");
}

TEST(TextRecognizerTest, AnImageWithoutTextGivesNoLinesAndANullImageIsAnError)
{
    QImage blank(300, 100, QImage::Format_RGB32);
    blank.fill(Qt::white);
    EXPECT_TRUE(sharedTextRecognizer()->recognize(blank).lines.empty());
    EXPECT_EQ(sharedTextRecognizer()->recognize(blank).joinedLines(), QString());
    EXPECT_THROW(sharedTextRecognizer()->recognize(QImage()), TextRecognitionError);
}

TEST(TextRecognizerTest, ReadsWhileEnginesAreLetGoOfAndTakenBackFromSeveralThreads)
{
    // Engines not kept end after every read, and the last one takes the shared dictionaries with it; reads
    // on other threads meanwhile make new ones.
    const QStringList lines{QStringLiteral("Quarterly budget review")};
    const QImage image = textImage(lines, Qt::black, Qt::white);
    std::vector<std::thread> readers;
    std::atomic<int> misread{0};
    for (int reader = 0; reader < 3; ++reader) {
        readers.emplace_back([&, reader] {
            for (int read = 0; read < 3; ++read) {
                setTextRecognitionEnginesKept((reader + read) % 2 == 0);
                if (sharedTextRecognizer()->recognize(image).joinedLines() != lines.constFirst()) {
                    ++misread;
                }
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    setTextRecognitionEnginesKept(true);
    EXPECT_EQ(misread, 0);
}

TEST(TextRecognizerTest, AHelperProcessReadsWhatThisProcessReadsAndOneThatEndsIsAnError)
{
    // Translucent pixels at twice the density: the format, line length and pixel ratio cross over as they are.
    QImage image(textImage({QStringLiteral("Quarterly budget review"), QStringLiteral("Download the invoice")},
                           Qt::black, Qt::white)
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied));
    image.setDevicePixelRatio(2);
    const RecognizedText here = makeTesseractTextRecognizer()->recognize(image);
    const RecognizedText there = makeHelperProcessTextRecognizer(testing::builtRecognitionHelper())->recognize(image);
    EXPECT_EQ(there.joinedLines(), here.joinedLines());
    ASSERT_EQ(there.lines.size(), 2u);
    ASSERT_EQ(there.lines[1].words.size(), here.lines[1].words.size());
    EXPECT_EQ(there.lines[1].boundingBox, here.lines[1].boundingBox);
    EXPECT_EQ(there.lines[1].words[2].boundingBox, here.lines[1].words[2].boundingBox);
    EXPECT_EQ(there.lines[1].words[2].confidence, here.lines[1].words[2].confidence);

    for (const char* notAHelper : {"/bin/true", "/nonexistent/lumetrove"}) {
        SCOPED_TRACE(notAHelper);
        EXPECT_THROW(makeHelperProcessTextRecognizer(QString::fromLatin1(notAHelper))->recognize(image),
                     TextRecognitionError);
    }
}

int runningHelpers()
{
    return static_cast<int>(testing::runningRecognitionHelpers().size());
}

TEST(TextRecognizerTest, AHelperWithoutWorkEndsAndTheNextRecognitionStartsAnother)
{
    const QImage image = textImage({QStringLiteral("Quarterly budget review")}, Qt::black, Qt::white);
    const auto recognizer =
        makeHelperProcessTextRecognizer(testing::builtRecognitionHelper(), std::chrono::milliseconds(200));
    EXPECT_EQ(recognizer->recognize(image).joinedLines(), QStringLiteral("Quarterly budget review"));
    QDeadlineTimer deadline(30000);
    while (runningHelpers() > 0 && !deadline.hasExpired()) {
        QThread::msleep(20);
    }
    EXPECT_EQ(runningHelpers(), 0) << "the idle helper was kept";
    EXPECT_EQ(recognizer->recognize(image).joinedLines(), QStringLiteral("Quarterly budget review"));
}

TEST(TextRecognizerTest, ACancelledRecognitionGivesUpAndTheNextOneReadsItsOwnImage)
{
    const QImage first = textImage({QStringLiteral("Quarterly budget review")}, Qt::black, Qt::white);
    const QImage second = textImage({QStringLiteral("Download the invoice")}, Qt::black, Qt::white);
    // Cancelled from the start; in this process also between the words of the reading (the steps before it
    // and the block ask first). A helper is asked while it reads.
    struct Case {
        const char* where;
        std::shared_ptr<TextRecognizer> recognizer;
        std::vector<int> answersBeforeCancelling;
    };
    const std::vector<Case> cases = {
        {"in this process", makeTesseractTextRecognizer(), {0, 4}},
        {"in a helper", makeHelperProcessTextRecognizer(testing::builtRecognitionHelper()), {0}}};
    for (const auto& [where, recognizer, answersBeforeCancelling] : cases) {
        SCOPED_TRACE(where);
        for (const int answers : answersBeforeCancelling) {
            std::atomic<int> asked{0};
            EXPECT_THROW(recognizer->recognizeUnlessCancelled(first, [&] { return asked++ >= answers; }),
                         TextRecognitionCancelled);
        }
        // The engine or helper of a recognition given up answers nothing of it later.
        EXPECT_EQ(recognizer->recognizeUnlessCancelled(second, [] { return false; }).joinedLines().toStdString(),
                  "Download the invoice");
    }
}

// Asked by the leak checker as the process ends: a process that ends on purpose without tearing down its
// application leaves what the libraries under it hold for the whole process, which is no leak.
std::atomic<bool> endingWithoutTeardown{false};

TEST(TextRecognizerTest, AProcessThatEndsWhileItReadsEndsWithoutFault)
{
    // The engine's dictionaries are globals of its library, destroyed as the process ends: reading threads
    // still making engines or reading then must give up first, not work on what is being destroyed.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QImage one = textImage({QStringLiteral("Quarterly budget review")}, Qt::black, Qt::white);
    QImage apart(1200, 900, QImage::Format_RGB32); // paragraphs far apart: one block, and one thread, each
    apart.fill(Qt::white);
    {
        QPainter painter(&apart);
        for (int paragraph = 0; paragraph < 6; ++paragraph) {
            painter.drawImage(QPoint(40 + paragraph % 2 * 600, 40 + paragraph / 2 * 300), one);
        }
    }
    EXPECT_EXIT(
        {
            // Ended last, after the library's globals: the end of a process takes its time (an application's
            // teardown, a leak check) while the reading threads go on.
            std::atexit([] { std::this_thread::sleep_for(std::chrono::milliseconds(500)); });
            sharedTextRecognizer()->recognize(one); // the dictionaries are made, one engine waits
            std::atomic<bool> reading{false};
            std::thread([&] {
                try {
                    sharedTextRecognizer()->recognizeUnlessCancelled(apart, [&] {
                        reading = true;
                        return false;
                    });
                } catch (const std::exception&) {
                }
            }).detach();
            while (!reading) {
                std::this_thread::yield();
            }
            endingWithoutTeardown = true;
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace lumetrove

extern "C" int __lsan_is_turned_off()
{
    return lumetrove::endingWithoutTeardown ? 1 : 0;
}
