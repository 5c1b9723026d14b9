#include "lumetrove/platform/TextRecognizer.h"

#include <QCoreApplication>
#include <QFont>
#include <QPainter>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace lumetrove {
namespace {

/// A strip of interface text: `lines` drawn at 13 px in `ink` on `ground`, 22 px apart.
QImage textImage(const QStringList& lines, QColor ink, QColor ground, int pixelSize = 13)
{
    QImage image(520, 30 + 22 * static_cast<int>(lines.size()), QImage::Format_RGB32);
    image.fill(ground);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(ink);
    for (int i = 0; i < lines.size(); ++i) {
        painter.drawText(16, 30 + 22 * i, lines[i]);
    }
    return image;
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
    const RecognizedText there =
        makeHelperProcessTextRecognizer(QCoreApplication::applicationFilePath())->recognize(image);
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

} // namespace
} // namespace lumetrove
