#pragma once

// Generated sweeps for the recogniser: every size, weight, family and polarity of each kind of text, and the
// screens where a preparation of the image is most likely to lose text: large bold headings, dense panels of
// small text with short words, tables, and words cut by the edge of a capture. Each at any device pixel ratio,
// with the words each image shows.

#include "bench/ScreenCorpus.h"

#include <QLocale>

namespace lumetrove::bench {

inline const std::vector<int>& sweepSizes()
{
    static const std::vector<int> sizes{8, 10, 12, 14, 18, 22, 28, 34, 48, 72};
    return sizes;
}

inline const std::vector<const char*>& sweepFamilies()
{
    static const std::vector<const char*> families{"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono"};
    return families;
}

/// One item of a kind of text, as a user would see it on screen.
using ItemMaker = std::function<QString(ScreenPainter&)>;

inline QString padded(int value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

inline const std::vector<std::pair<const char*, ItemMaker>>& textKinds()
{
    static const QStringList shortWords =
        QStringLiteral("is in so and to of it on at by or as if we no up an be").split(QLatin1Char(' '));
    static const QStringList months =
        QStringLiteral("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec").split(QLatin1Char(' '));
    static const std::vector<std::pair<const char*, ItemMaker>> kinds{
        {"prose",
         [](ScreenPainter& p) {
             return p.number(0, 2) == 0 ? shortWords[p.number(0, static_cast<int>(shortWords.size()) - 1)]
                                        : p.phrase(1, p.number(0, 3) == 0);
         }},
        {"integers",
         [](ScreenPainter& p) { return QString::number(p.number(0, 1) ? p.number(0, 999) : p.number(1000, 999999)); }},
        {"decimals",
         [](ScreenPainter& p) {
             return p.number(0, 1) ? QStringLiteral("%1.%2").arg(p.number(0, 99)).arg(p.number(0, 999))
                                   : QStringLiteral("%1.%2").arg(p.number(0, 9)).arg(padded(p.number(0, 99), 2));
         }},
        {"money",
         [](ScreenPainter& p) {
             const QString amount =
                 QLocale(QLocale::English).toString(p.number(1, 99999)) + QLatin1Char('.') + padded(p.number(0, 99), 2);
             return p.number(0, 1) ? QStringLiteral("$") + amount : amount + QStringLiteral(" USD");
         }},
        {"dates",
         [](ScreenPainter& p) {
             const int year = p.number(1990, 2030), month = p.number(1, 12), day = p.number(1, 28);
             switch (p.number(0, 2)) {
             case 0:
                 return QStringLiteral("%1-%2-%3").arg(year).arg(padded(month, 2), padded(day, 2));
             case 1:
                 return QStringLiteral("%1/%2/%3").arg(padded(day, 2), padded(month, 2)).arg(year);
             default:
                 return QStringLiteral("%1 %2, %3").arg(months[month - 1]).arg(day).arg(year);
             }
         }},
        {"times",
         [](ScreenPainter& p) {
             return p.number(0, 1)
                        ? QStringLiteral("%1:%2:%3")
                              .arg(padded(p.number(0, 23), 2), padded(p.number(0, 59), 2), padded(p.number(0, 59), 2))
                        : QStringLiteral("%1:%2 %3")
                              .arg(p.number(1, 12))
                              .arg(padded(p.number(0, 59), 2))
                              .arg(p.number(0, 1) ? QStringLiteral("AM") : QStringLiteral("PM"));
         }},
        {"versions",
         [](ScreenPainter& p) {
             const QString version =
                 QStringLiteral("%1.%2.%3").arg(p.number(0, 12)).arg(p.number(0, 40)).arg(p.number(0, 200));
             return p.number(0, 1) ? QStringLiteral("v") + version : version;
         }},
        {"addresses",
         [](ScreenPainter& p) {
             const QString address = QStringLiteral("%1.%2.%3.%4")
                                         .arg(p.number(1, 254))
                                         .arg(p.number(0, 255))
                                         .arg(p.number(0, 255))
                                         .arg(p.number(1, 254));
             return p.number(0, 2) ? address : address + QStringLiteral(":%1").arg(p.number(80, 9999));
         }},
        {"hexadecimal",
         [](ScreenPainter& p) {
             const auto hex = [&p](int digits) {
                 QString text;
                 for (int i = 0; i < digits; ++i) {
                     text += QString::number(p.number(0, 15), 16);
                 }
                 return text;
             };
             switch (p.number(0, 2)) {
             case 0:
                 return QStringLiteral("0x") + hex(4).toUpper();
             case 1:
                 return QStringLiteral("#") + hex(6).toUpper();
             default:
                 return hex(8);
             }
         }},
        {"identifiers",
         [](ScreenPainter& p) {
             QString first = p.word(), second = p.word();
             switch (p.number(0, 2)) {
             case 0:
                 return first + QLatin1Char('_') + second;
             case 1:
                 second[0] = second[0].toUpper();
                 return first + second;
             default:
                 return (first + QLatin1Char('_') + second).toUpper();
             }
         }},
        {"paths",
         [](ScreenPainter& p) {
             return p.number(0, 1) ? QStringLiteral("/usr/%1/%2").arg(p.word(), p.word())
                                   : QStringLiteral("~/%1/%2.txt").arg(p.word(), p.word());
         }},
        {"code",
         [](ScreenPainter& p) {
             switch (p.number(0, 3)) {
             case 0:
                 return QStringLiteral("if (%1 > %2) {").arg(p.word()).arg(p.number(0, 99));
             case 1:
                 return QStringLiteral("%1[%2] += %3;").arg(p.word()).arg(p.number(0, 9)).arg(p.word());
             case 2:
                 return QStringLiteral("%1->%2(%3);").arg(p.word(), p.word(), p.word());
             default:
                 return QStringLiteral("return {%1, %2};").arg(p.word(), p.word());
             }
         }},
    };
    return kinds;
}

/// Items of one kind on a line of `font`, as many as fit in `width` and at most six; none where the first does
/// not fit. Text beyond `width` would run into the other half of the screen, or off it, where it is not shown.
inline QString sweepLine(ScreenPainter& p, const ItemMaker& make, const QFont& font, qreal width)
{
    const QFontMetricsF metrics(font);
    QString line;
    for (int i = 0; i < 6; ++i) {
        const QString next = line.isEmpty() ? make(p) : line + QStringLiteral("  ") + make(p);
        if (metrics.horizontalAdvance(next) > width) {
            break;
        }
        line = next;
    }
    return line;
}

/// One kind of text in one family: dark on light at the left, light on dark at the right, each at every size,
/// regular and bold.
inline void drawTextSweep(ScreenPainter& p, const ItemMaker& make, const char* family)
{
    const QColor darkInk(0x20, 0x20, 0x20), lightGround(0xfa, 0xfa, 0xfa);
    const QColor lightInk(0xe6, 0xe6, 0xe6), darkGround(0x1e, 0x1f, 0x22);
    p.fill(QRectF(0, 0, 960, 1080), lightGround);
    p.fill(QRectF(960, 0, 960, 1080), darkGround);
    for (const bool dark : {false, true}) {
        qreal baseline = 16;
        for (const int size : sweepSizes()) {
            for (const bool bold : {false, true}) {
                const QFont shown = font(family, size, bold);
                baseline += size * 1.1 + 4;
                p.text(QPointF(dark ? 990 : 30, baseline), sweepLine(p, make, shown, 900), shown,
                       dark ? lightInk : darkInk);
            }
        }
    }
}

/// Sentences of interface text, with the short words that join them.
inline QString panelSentence(ScreenPainter& p)
{
    static const QStringList joins =
        QStringLiteral("is in so and to of it on at by or as if we no up an be the a").split(QLatin1Char(' '));
    QStringList words;
    const int count = p.number(4, 8);
    for (int i = 0; i < count; ++i) {
        words.append(i % 2 == 1 ? joins[p.number(0, static_cast<int>(joins.size()) - 1)] : p.word());
    }
    words[0][0] = words[0][0].toUpper();
    return words.join(QLatin1Char(' '));
}

/// A screen of dense panels, each in a colour scheme of its own, with small text (9 to 16 px) of short words.
inline void drawDensePanels(ScreenPainter& p, int variant)
{
    struct Scheme {
        QColor ground, title, text;
    };
    static const std::vector<Scheme> schemes{
        {QColor(0xff, 0xff, 0xff), QColor(0x11, 0x11, 0x11), QColor(0x33, 0x33, 0x33)},
        {QColor(0x25, 0x26, 0x2b), QColor(0xff, 0xff, 0xff), QColor(0xc8, 0xc8, 0xc8)},
        {QColor(0xf3, 0xee, 0xe0), QColor(0x5a, 0x3e, 0x1b), QColor(0x40, 0x36, 0x2a)},
        {QColor(0x1e, 0x3a, 0x5f), QColor(0xff, 0xd8, 0x66), QColor(0xe0, 0xe8, 0xf0)},
        {QColor(0xe8, 0xf5, 0xe9), QColor(0x1b, 0x5e, 0x20), QColor(0x2e, 0x3b, 0x2f)},
        {QColor(0x3b, 0x1f, 0x2b), QColor(0xff, 0x9e, 0xb5), QColor(0xee, 0xdd, 0xe2)},
        {QColor(0xec, 0xef, 0xf4), QColor(0x5e, 0x81, 0xac), QColor(0x4c, 0x56, 0x6a)},
        {QColor(0x00, 0x2b, 0x36), QColor(0xb5, 0x89, 0x00), QColor(0x93, 0xa1, 0xa1)},
    };
    const char* family = sweepFamilies()[static_cast<size_t>(variant) % sweepFamilies().size()];
    const int columns = 4, rows = 3;
    const qreal width = 1920.0 / columns, height = 1080.0 / rows;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const Scheme& scheme = schemes[static_cast<size_t>(p.number(0, static_cast<int>(schemes.size()) - 1))];
            const QRectF panel(column * width, row * height, width, height);
            p.fill(panel, scheme.ground);
            const int size = p.number(9, 16);
            const QFont title = font(family, size + 1, true), body = font(family, size);
            qreal baseline = panel.top() + 12 + size;
            p.text(QPointF(panel.left() + 14, baseline), p.phrase(2, true), title, scheme.title);
            while (baseline + 2 * size + 10 < panel.bottom()) {
                baseline += size * 1.45;
                const QFontMetricsF metrics(body);
                QString sentence = panelSentence(p);
                while (metrics.horizontalAdvance(sentence) > width - 30) {
                    sentence = sentence.section(QLatin1Char(' '), 0, -2);
                }
                p.text(QPointF(panel.left() + 14, baseline), sentence, body, scheme.text);
            }
        }
    }
}

/// Plain tables: a bold header row of names (Name, Qty, Price and others), then rows of a name and numbers,
/// with or without rules, light or dark.
inline void drawTables(ScreenPainter& p, int variant)
{
    const bool dark = variant % 2 == 1, rules = variant % 3 != 0;
    const QColor ground = dark ? QColor(0x20, 0x22, 0x25) : Qt::white;
    const QColor ink = dark ? QColor(0xe0, 0xe0, 0xe0) : QColor(0x1a, 0x1a, 0x1a);
    const QColor rule = dark ? QColor(0x50, 0x50, 0x55) : QColor(0xc8, 0xc8, 0xc8);
    p.fill(QRectF(0, 0, 1920, 1080), ground);
    const QStringList headers{QStringLiteral("Name"), QStringLiteral("Qty"), QStringLiteral("Price"),
                              QStringLiteral("Total"), QStringLiteral("Date")};
    const char* family = sweepFamilies()[static_cast<size_t>(variant) % sweepFamilies().size()];
    for (int table = 0; table < 4; ++table) {
        const int size = 12 + 3 * ((table + variant) % 4);
        const int columns = 3 + table % 3, lines = 4 + p.number(0, 4);
        const qreal cellWidth = size * 7.0, cellHeight = size * 2.0;
        const QPointF origin(60 + (table % 2) * 940, 60 + (table / 2) * 520);
        for (int line = 0; line <= lines; ++line) {
            for (int column = 0; column < columns; ++column) {
                const QRectF cell(origin.x() + column * cellWidth, origin.y() + line * cellHeight, cellWidth,
                                  cellHeight);
                QString value;
                if (line == 0) {
                    value = headers[column];
                } else if (column == 0) {
                    value = p.phrase(1, true);
                } else if (column == 4) {
                    value = QStringLiteral("%1-%2").arg(padded(p.number(1, 12), 2), padded(p.number(1, 28), 2));
                } else {
                    value = column == 1 ? QString::number(p.number(1, 250)) : p.amount();
                }
                p.aligned(cell.adjusted(size * 0.5, 0, -size * 0.5, 0),
                          (column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, value,
                          font(family, size, line == 0), ink);
                if (rules) {
                    p.fill(QRectF(cell.left(), cell.bottom(), cellWidth, 1), rule);
                }
            }
        }
    }
}

/// A large bold heading of a word and a number on a plain window, four lines of it at 22 to 34 px.
inline void drawHeadings(ScreenPainter& p, int variant)
{
    const bool dark = variant % 2 == 1;
    p.fill(QRectF(0, 0, 1920, 1080), dark ? QColor(0x1e, 0x1e, 0x1e) : QColor(0xfc, 0xfc, 0xfc));
    const QColor ink = dark ? QColor(0xf0, 0xf0, 0xf0) : QColor(0x10, 0x10, 0x10);
    const char* family = sweepFamilies()[static_cast<size_t>(variant / 2) % sweepFamilies().size()];
    for (int block = 0; block < 6; ++block) {
        const QPointF origin(80 + (block % 2) * 920, 40 + (block / 2) * 340);
        qreal baseline = 0;
        for (int line = 0; line < 4; ++line) {
            const int size = 22 + 4 * ((line + block) % 4);
            const QString text = p.number(0, 1) ? QStringLiteral("%1 %2").arg(p.phrase(1, true)).arg(p.number(0, 9999))
                                                : p.phrase(p.number(1, 2), true);
            baseline += size * 1.8;
            p.text(origin + QPointF(0, baseline), text, font(family, size, true), ink);
        }
    }
}

/// A capture whose left edge cuts a pixel or two into the first letter of a word: a small image, not a screen.
inline void drawCutWord(CorpusScreen& screen, qreal ratio, int variant)
{
    static const QStringList words{QStringLiteral("Quantum"), QStringLiteral("Browser"), QStringLiteral("Display"),
                                   QStringLiteral("Window"),  QStringLiteral("Kernel"),  QStringLiteral("Monitor"),
                                   QStringLiteral("Balance"), QStringLiteral("Orchid")};
    const QString word = words[variant % words.size()];
    const int size = 14 + 4 * (variant % 4);
    const bool dark = variant % 2 == 1;
    const QFont shown = font(sweepFamilies()[static_cast<size_t>(variant) % sweepFamilies().size()], size);
    const QFontMetricsF metrics(shown);
    const qreal cut = 1 + variant % 2; // points cut off the first letter's left side
    screen.image =
        QImage(QSize(qRound(metrics.horizontalAdvance(word) + 2 * size), size * 2) * ratio, QImage::Format_RGB32);
    screen.image.setDevicePixelRatio(ratio);
    screen.image.fill(dark ? QColor(0x22, 0x22, 0x22) : Qt::white);
    QPainter painter(&screen.image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(shown);
    painter.setPen(dark ? QColor(0xe8, 0xe8, 0xe8) : QColor(0x18, 0x18, 0x18));
    painter.drawText(QPointF(-metrics.leftBearing(word[0]) - cut, size * 1.4), word);
    screen.words = wordsOf(word);
}

/// Every sweep image at `ratio`, each `share`-th of every set (at least the first of each): a quick run takes a
/// share of them, a full run every one.
inline std::vector<CorpusScreen> renderSweeps(qreal ratio, int share)
{
    std::vector<CorpusScreen> screens;
    unsigned seed = 101;
    int counter = 0;
    const auto add = [&](const QString& name, const QString& kind, const std::function<void(ScreenPainter&)>& draw) {
        ++seed;
        if (counter++ % share != 0) {
            return;
        }
        CorpusScreen& screen = screens.emplace_back();
        screen.name = name;
        screen.kind = kind;
        ScreenPainter painter(screen, ratio, seed);
        draw(painter);
    };
    for (const auto& [kind, make] : textKinds()) {
        counter = 0;
        for (const char* family : sweepFamilies()) {
            add(QStringLiteral("%1-%2").arg(QString::fromLatin1(kind), QString::fromLatin1(family).toLower().replace(
                                                                           QLatin1Char(' '), QLatin1Char('-'))),
                QString::fromLatin1(kind), [&make, family](ScreenPainter& p) { drawTextSweep(p, make, family); });
        }
    }
    counter = 0;
    for (int variant = 0; variant < 12; ++variant) {
        add(QStringLiteral("panels-%1").arg(variant), QStringLiteral("panels"),
            [variant](ScreenPainter& p) { drawDensePanels(p, variant); });
    }
    counter = 0;
    for (int variant = 0; variant < 6; ++variant) {
        add(QStringLiteral("tables-%1").arg(variant), QStringLiteral("tables"),
            [variant](ScreenPainter& p) { drawTables(p, variant); });
    }
    counter = 0;
    for (int variant = 0; variant < 6; ++variant) {
        add(QStringLiteral("headings-%1").arg(variant), QStringLiteral("headings"),
            [variant](ScreenPainter& p) { drawHeadings(p, variant); });
    }
    for (int variant = 0; variant < 8; ++variant) {
        if (variant % share != 0) {
            continue;
        }
        CorpusScreen& screen = screens.emplace_back();
        screen.name = QStringLiteral("cut-%1").arg(variant);
        screen.kind = QStringLiteral("cut");
        drawCutWord(screen, ratio, variant);
    }
    return screens;
}

} // namespace lumetrove::bench
