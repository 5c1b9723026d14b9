#pragma once

// A full-HD desktop drawn with QPainter for the text-recognition benchmarks: a light document window, a dark
// code editor beside it and a thin status bar with small text, with the words that were drawn.

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QStringList>
#include <random>

namespace lumetrove::bench {

struct ScreenText {
    QImage image;
    QStringList words; // every drawn word, lower-case, in drawing order
};

inline QStringList vocabulary()
{
    return QStringLiteral(
               "about above account action address after again against agent album alert allow almost alpha "
               "amount anchor answer append apply archive argument around array arrow assign attach audio "
               "author backup balance banner basket battery become before begin behind below better binary "
               "border bottom branch bridge bright broken browser bucket budget buffer button cable camera "
               "cancel canvas carbon carry center change channel chapter charge check choose circle client "
               "closed cloud column commit common config contact content context copy corner counter cover "
               "create credit cursor custom daily damage danger debug decimal default delete design desktop "
               "detail device dialog digital direct display divide docker domain double download draft drawer "
               "driver editor effect either element email enable energy engine enough entry error event exact "
               "export factor family feature filter finger folder follow format forward frame friend future "
               "garden gather global golden google graph green ground group growth handle header health height "
               "hidden history holder honest image import income index inside install invoice island kernel "
               "keyboard ladder launch layer leader length letter library limit linear listen little local "
               "locked lookup machine manage manual margin market master matrix meadow medium member memory "
               "method middle minute mobile modern module moment monitor motion native network normal notice "
               "number object office online option orange output packet palette panel parent partner patch "
               "people period picture planet player pocket policy portal position powder preview printer "
               "process profile project prompt public purple python query random reader record refresh region "
               "release remote render report request result return review river rocket router runtime sample "
               "screen script search second select server session shadow signal silver simple socket source "
               "spring square stable status stream string studio submit summer switch symbol system table "
               "target ticket timer toggle token travel update upload vector version window winter yellow")
        .split(QLatin1Char(' '));
}

/// Draws words from the vocabulary into `area`, line by line, until it is full.
inline void drawParagraphs(QPainter& painter, const QRect& area, const QFont& font, const QList<QColor>& colors,
                           int lineHeight, std::mt19937& random, QStringList& words)
{
    const QStringList vocabulary = lumetrove::bench::vocabulary();
    painter.setFont(font);
    const QFontMetrics metrics(font);
    std::uniform_int_distribution<qsizetype> pick(0, vocabulary.size() - 1);
    std::uniform_int_distribution<int> colour(0, static_cast<int>(colors.size()) - 1);
    std::uniform_int_distribution<int> lineLength(3, 9);
    for (int baseline = area.top() + lineHeight; baseline + 4 < area.bottom(); baseline += lineHeight) {
        int x = area.left();
        const int count = lineLength(random);
        for (int i = 0; i < count; ++i) {
            const QString word = vocabulary[pick(random)];
            const int advance = metrics.horizontalAdvance(word + QLatin1Char(' '));
            if (x + advance > area.right()) {
                break;
            }
            painter.setPen(colors[colour(random)]);
            painter.drawText(x, baseline, word);
            words.append(word);
            x += advance;
        }
        // A blank line now and then, as between paragraphs.
        if (random() % 6 == 0) {
            baseline += lineHeight;
        }
    }
}

inline ScreenText renderMixedScreen(unsigned seed = 7)
{
    ScreenText screen;
    screen.image = QImage(1920, 1080, QImage::Format_RGB32);
    std::mt19937 random(seed);
    QPainter painter(&screen.image);
    painter.fillRect(screen.image.rect(), QColor(0x3a, 0x4a, 0x5a));

    QFont sans(QStringLiteral("DejaVu Sans"));
    sans.setPixelSize(13);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(13);
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(11);

    // Light document window with a title bar.
    painter.fillRect(QRect(40, 40, 900, 960), Qt::white);
    painter.fillRect(QRect(40, 40, 900, 30), QColor(0xe8, 0xe8, 0xe8));
    drawParagraphs(painter, QRect(56, 44, 600, 24), sans, {QColor(0x33, 0x33, 0x33)}, 20, random, screen.words);
    drawParagraphs(painter, QRect(60, 80, 860, 900), sans, {QColor(0x22, 0x22, 0x22), QColor(0x44, 0x44, 0x44)}, 20,
                   random, screen.words);

    // Dark editor with coloured tokens.
    painter.fillRect(QRect(980, 40, 900, 960), QColor(0x1e, 0x1e, 0x1e));
    painter.fillRect(QRect(980, 40, 900, 30), QColor(0x2d, 0x2d, 0x2d));
    drawParagraphs(painter, QRect(996, 44, 600, 24), sans, {QColor(0xcc, 0xcc, 0xcc)}, 20, random, screen.words);
    drawParagraphs(
        painter, QRect(1000, 80, 860, 900), mono,
        {QColor(0xd4, 0xd4, 0xd4), QColor(0x56, 0x9c, 0xd6), QColor(0xce, 0x91, 0x78), QColor(0x6a, 0x99, 0x55)}, 19,
        random, screen.words);

    // Status bar with small white text.
    painter.fillRect(QRect(0, 1052, 1920, 28), QColor(0x00, 0x7a, 0xcc));
    drawParagraphs(painter, QRect(10, 1052, 1900, 22), small, {Qt::white}, 18, random, screen.words);
    return screen;
}

/// The share of drawn words found among the recognised ones (each recognised word matches once).
inline double wordRecall(const QStringList& drawn, const QString& recognised)
{
    QHash<QString, int> found;
    for (const QString& token :
         recognised.toLower().split(QRegularExpression(QStringLiteral("[^a-z]+")), Qt::SkipEmptyParts)) {
        ++found[token];
    }
    int matched = 0;
    for (const QString& word : drawn) {
        if (found.value(word) > 0) {
            --found[word];
            ++matched;
        }
    }
    return drawn.isEmpty() ? 1.0 : double(matched) / drawn.size();
}

} // namespace lumetrove::bench
