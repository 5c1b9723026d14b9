#pragma once

// Everyday full-HD screens drawn by the benchmark itself, each at any device pixel ratio, with the words each
// shows: documents, editors and terminals, Qt widgets and small dialogs, tables of numbers, white labels on
// coloured buttons and badges, low-contrast status text and translucent panels, in light and dark themes.
// The same screen at ratio 2 shows the same words as at ratio 1, drawn with twice the pixels.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStringList>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>
#include <random>
#include <vector>

namespace lumetrove::bench {

/// The words of a text as recall counts them: lower-case runs of letters and digits.
inline QStringList wordsOf(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[^a-z0-9]+"));
    return text.toLower().split(separators, Qt::SkipEmptyParts);
}

/// The shown words that the recognised text lacks (each recognised word matches one shown word once).
inline QStringList missedWords(const QStringList& shown, const QString& recognised)
{
    QHash<QString, int> found;
    for (const QString& token : wordsOf(recognised)) {
        ++found[token];
    }
    QStringList missed;
    for (const QString& word : shown) {
        if (found.value(word) > 0) {
            --found[word];
        } else {
            missed.append(word);
        }
    }
    return missed;
}

/// The share of shown words found among the recognised ones.
inline double wordRecall(const QStringList& shown, const QString& recognised)
{
    return shown.isEmpty() ? 1.0 : 1.0 - double(missedWords(shown, recognised).size()) / double(shown.size());
}

struct CorpusScreen {
    QString name;
    /// The class of screen it stands for (document, terminal, buttons, …): recall is compared per class.
    QString kind;
    QImage image;
    QStringList words;
};

inline const QStringList& vocabulary()
{
    static const QStringList words =
        QStringLiteral("about above account action address after again against agent album alert allow almost alpha "
                       "amount anchor answer append apply archive argument around array arrow assign attach audio "
                       "author backup balance banner basket battery become before begin behind below better binary "
                       "border bottom branch bridge bright broken browser bucket budget buffer button cable camera "
                       "cancel canvas carbon carry center change channel chapter charge check choose circle client "
                       "closed cloud column commit common config contact content context copy corner counter cover "
                       "create credit cursor custom daily damage danger debug decimal default delete design desktop "
                       "detail device dialog digital direct display divide docker domain double download draft drawer "
                       "driver editor effect either element email enable energy engine enough entry error event exact "
                       "export factor family feature filter finger folder follow format forward frame friend future "
                       "garden gather global golden graph green ground group growth handle header health height "
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
    return words;
}

/// Draws one screen: random words, text that records what it shows, and Qt widgets rendered in place.
class ScreenPainter {
public:
    ScreenPainter(CorpusScreen& screen, qreal ratio, unsigned seed, bool translucent = false)
        : screen_(screen), random_(seed)
    {
        screen_.image =
            QImage(QSize(1920, 1080) * ratio, translucent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        screen_.image.setDevicePixelRatio(ratio);
        screen_.image.fill(Qt::transparent);
        painter_.begin(&screen_.image);
        painter_.setRenderHint(QPainter::Antialiasing);
        painter_.setRenderHint(QPainter::TextAntialiasing);
    }
    ~ScreenPainter() { painter_.end(); }

    QPainter& painter() { return painter_; }

    int number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    QString word() { return vocabulary()[number(0, static_cast<int>(vocabulary().size()) - 1)]; }

    /// `count` words joined by blanks, the first capitalised when `title`.
    QString phrase(int count, bool title = false)
    {
        QStringList words;
        for (int i = 0; i < count; ++i) {
            words.append(word());
        }
        QString text = words.join(QLatin1Char(' '));
        if (title && !text.isEmpty()) {
            text[0] = text[0].toUpper();
        }
        return text;
    }

    QString amount()
    {
        return QStringLiteral("%1.%2").arg(number(1, 9999)).arg(number(0, 99), 2, 10, QLatin1Char('0'));
    }

    void fill(const QRectF& area, const QColor& color) { painter_.fillRect(area, color); }

    void roundedFill(const QRectF& area, qreal radius, const QColor& color)
    {
        QPainterPath path;
        path.addRoundedRect(area, radius, radius);
        painter_.fillPath(path, color);
    }

    /// Draws `text` with its baseline's left end at `at`; the words shown are recorded. Returns its width.
    qreal text(QPointF at, const QString& text, const QFont& font, const QColor& color)
    {
        painter_.setFont(font);
        painter_.setPen(color);
        painter_.drawText(at, text);
        screen_.words += wordsOf(text);
        return QFontMetricsF(font).horizontalAdvance(text);
    }

    /// Draws `text` in `area` with the alignment `flags`.
    void aligned(const QRectF& area, int flags, const QString& text, const QFont& font, const QColor& color)
    {
        painter_.setFont(font);
        painter_.setPen(color);
        painter_.drawText(area, flags, text);
        screen_.words += wordsOf(text);
    }

    void centred(const QRectF& area, const QString& text, const QFont& font, const QColor& color)
    {
        aligned(area, Qt::AlignCenter, text, font, color);
    }

    /// Lines of random words in `area`, `lineHeight` apart, in the colours given at random.
    void paragraphs(const QRectF& area, const QFont& font, const QList<QColor>& colors, qreal lineHeight,
                    int blankLineEvery = 6)
    {
        const QFontMetricsF metrics(font);
        for (qreal baseline = area.top() + lineHeight; baseline + 4 < area.bottom(); baseline += lineHeight) {
            qreal x = area.left();
            const int count = number(3, 9);
            for (int i = 0; i < count; ++i) {
                const QString next = word();
                const qreal advance = metrics.horizontalAdvance(next + QLatin1Char(' '));
                if (x + advance > area.right()) {
                    break;
                }
                text(QPointF(x, baseline), next, font, colors[number(0, static_cast<int>(colors.size()) - 1)]);
                x += advance;
            }
            if (blankLineEvery > 0 && number(0, blankLineEvery - 1) == 0) {
                baseline += lineHeight;
            }
        }
    }

    /// Renders `widget` (laid out at `area`'s size) into `area`, and records `words` as what it shows.
    void widget(QWidget& widget, const QRectF& area, const QStringList& words)
    {
        widget.setAttribute(Qt::WA_DontShowOnScreen);
        widget.resize(area.size().toSize());
        widget.show();
        QApplication::processEvents();
        widget.render(&painter_, area.topLeft().toPoint(), QRegion(), QWidget::DrawChildren);
        widget.hide();
        for (const QString& text : words) {
            screen_.words += wordsOf(text);
        }
    }

private:
    CorpusScreen& screen_;
    std::mt19937 random_;
    QPainter painter_;
};

inline QFont font(const char* family, qreal pixelSize, bool bold = false)
{
    QFont made(QString::fromLatin1(family));
    made.setPixelSize(qRound(pixelSize));
    made.setBold(bold);
    return made;
}

inline QPalette themePalette(bool dark)
{
    QPalette palette = QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette();
    if (!dark) {
        return palette;
    }
    const QColor window(0x2d, 0x2d, 0x30), base(0x1e, 0x1e, 0x1e), text(0xe0, 0xe0, 0xe0);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x28));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3c, 0x3c, 0x3f));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x26, 0x4f, 0x78));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

/// A Qt widget tree in the Fusion style with a light or dark palette and the given font size.
inline void styleWidget(QWidget& widget, bool dark, int pixelSize)
{
    static QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    widget.setStyle(fusion);
    for (QWidget* child : widget.findChildren<QWidget*>()) {
        child->setStyle(fusion);
    }
    widget.setPalette(themePalette(dark));
    widget.setAutoFillBackground(true);
    widget.setFont(font("DejaVu Sans", pixelSize));
}

// ---- documents, editors, terminals ----

inline void drawDocument(ScreenPainter& p, bool dark)
{
    const QColor page = dark ? QColor(0x1e, 0x1e, 0x1e) : Qt::white;
    const QColor ink = dark ? QColor(0xdd, 0xdd, 0xdd) : QColor(0x22, 0x22, 0x22);
    const QColor heading = dark ? QColor(0xff, 0xff, 0xff) : QColor(0x10, 0x10, 0x10);
    p.fill(QRectF(0, 0, 1920, 1080), dark ? QColor(0x11, 0x11, 0x11) : QColor(0xe4, 0xe4, 0xe4));
    p.fill(QRectF(160, 20, 1600, 1040), page);
    p.text(QPointF(220, 90), p.phrase(4, true), font("DejaVu Serif", 30, true), heading);
    for (int column = 0; column < 2; ++column) {
        const qreal left = 220 + column * 760;
        p.text(QPointF(left, 150), p.phrase(3, true), font("DejaVu Sans", 19, true), heading);
        p.paragraphs(QRectF(left, 160, 700, 420), font("DejaVu Serif", 15), {ink}, 24);
        p.text(QPointF(left, 620), p.phrase(2, true), font("DejaVu Sans", 17, true), heading);
        p.paragraphs(QRectF(left, 630, 700, 400), font("DejaVu Sans", 14), {ink}, 22);
    }
}

inline void drawEditor(ScreenPainter& p, bool dark)
{
    const QColor background = dark ? QColor(0x1e, 0x1e, 0x1e) : QColor(0xff, 0xff, 0xff);
    const QColor side = dark ? QColor(0x25, 0x25, 0x26) : QColor(0xf3, 0xf3, 0xf3);
    const QColor sideText = dark ? QColor(0xcc, 0xcc, 0xcc) : QColor(0x3b, 0x3b, 0x3b);
    const QColor gutter = dark ? QColor(0x85, 0x85, 0x85) : QColor(0x6e, 0x76, 0x81);
    const QList<QColor> tokens =
        dark ? QList<QColor>{QColor(0xd4, 0xd4, 0xd4), QColor(0x56, 0x9c, 0xd6), QColor(0xce, 0x91, 0x78),
                             QColor(0x6a, 0x99, 0x55), QColor(0xc5, 0x86, 0xc0)}
             : QList<QColor>{QColor(0x1f, 0x1f, 0x1f), QColor(0x00, 0x00, 0xff), QColor(0xa3, 0x15, 0x15),
                             QColor(0x00, 0x80, 0x00), QColor(0xaf, 0x00, 0xdb)};
    p.fill(QRectF(0, 0, 1920, 1080), background);
    p.fill(QRectF(0, 0, 300, 1080), side);
    p.text(QPointF(16, 30), QStringLiteral("EXPLORER"), font("DejaVu Sans", 11, true), sideText);
    for (int row = 0; row < 34; ++row) {
        p.text(QPointF(28 + (row % 3) * 12, 60 + row * 28), p.word() + QStringLiteral(".cpp"), font("DejaVu Sans", 13),
               sideText);
    }
    p.fill(QRectF(300, 0, 1620, 36), side);
    for (int tab = 0; tab < 5; ++tab) {
        p.text(QPointF(320 + tab * 180, 24), p.word() + QStringLiteral(".h"), font("DejaVu Sans", 13), sideText);
    }
    const QFont mono = font("DejaVu Sans Mono", 13);
    const QFontMetricsF metrics(mono);
    for (int line = 0; line < 50; ++line) {
        const qreal baseline = 62 + line * 19.5;
        p.text(QPointF(320, baseline), QString::number(line + 1).rightJustified(3), mono, gutter);
        if (line % 7 == 6) {
            continue;
        }
        qreal x = 380 + 4 * metrics.horizontalAdvance(QLatin1Char(' ')) * p.number(0, 3);
        for (int token = p.number(2, 8); token > 0; --token) {
            const QString next = p.word();
            x += p.text(QPointF(x, baseline), next, mono, tokens[p.number(0, static_cast<int>(tokens.size()) - 1)]);
            x += metrics.horizontalAdvance(QLatin1Char(' '));
        }
    }
}

inline void drawTerminal(ScreenPainter& p, bool dark)
{
    const QColor background = dark ? QColor(0x0c, 0x0c, 0x0c) : QColor(0xfd, 0xf6, 0xe3);
    const QColor ink = dark ? QColor(0xcc, 0xcc, 0xcc) : QColor(0x58, 0x6e, 0x75);
    const QColor prompt = dark ? QColor(0x4e, 0xc9, 0x4e) : QColor(0x85, 0x99, 0x00);
    const QColor path = dark ? QColor(0x3b, 0x8e, 0xea) : QColor(0x26, 0x8b, 0xd2);
    p.fill(QRectF(0, 0, 1920, 1080), background);
    const QFont mono = font("DejaVu Sans Mono", 14);
    const QFontMetricsF metrics(mono);
    qreal baseline = 24;
    while (baseline < 1060) {
        qreal x = 10;
        x += p.text(QPointF(x, baseline), QStringLiteral("user@host"), mono, prompt);
        x += p.text(QPointF(x, baseline), QStringLiteral(":~/") + p.word(), mono, path);
        x += p.text(QPointF(x, baseline), QStringLiteral("$ "), mono, ink);
        p.text(QPointF(x, baseline), p.word() + QStringLiteral(" --") + p.word() + QLatin1Char(' ') + p.word(), mono,
               ink);
        baseline += 20;
        for (int row = p.number(2, 6); row > 0 && baseline < 1060; --row, baseline += 20) {
            const QString line = QStringLiteral("-rw-r--r--  1 user staff %1  Mar %2 %3:%4  %5.txt")
                                     .arg(p.number(100, 99999), 6)
                                     .arg(p.number(1, 28), 2)
                                     .arg(p.number(10, 23))
                                     .arg(p.number(10, 59))
                                     .arg(p.word());
            p.text(QPointF(10, baseline), line, mono, ink);
            p.text(QPointF(10 + metrics.horizontalAdvance(line) + 40, baseline), p.phrase(p.number(2, 6)), mono, ink);
        }
    }
}

// ---- Qt widgets ----

inline void drawWidgetForms(ScreenPainter& p, bool dark)
{
    p.fill(QRectF(0, 0, 1920, 1080), dark ? QColor(0x20, 0x20, 0x22) : QColor(0xef, 0xef, 0xef));
    for (int panel = 0; panel < 6; ++panel) {
        QWidget form;
        QStringList shown;
        auto* layout = new QVBoxLayout(&form);
        auto* group = new QGroupBox(p.phrase(2, true));
        shown << group->title();
        auto* grid = new QGridLayout(group);
        for (int row = 0; row < 5; ++row) {
            auto* label = new QLabel(p.phrase(2, true) + QLatin1Char(':'));
            auto* field = new QLineEdit(p.phrase(2));
            shown << label->text() << field->text();
            grid->addWidget(label, row, 0);
            grid->addWidget(field, row, 1);
        }
        auto* combo = new QComboBox;
        combo->addItems({p.phrase(2, true), p.phrase(2, true)});
        shown << combo->currentText();
        grid->addWidget(combo, 5, 1);
        layout->addWidget(group);
        for (int row = 0; row < 3; ++row) {
            auto* check = new QCheckBox(p.phrase(3, true));
            check->setChecked(row % 2 == 0);
            auto* radio = new QRadioButton(p.phrase(2, true));
            shown << check->text() << radio->text();
            layout->addWidget(check);
            layout->addWidget(radio);
        }
        auto* buttons = new QHBoxLayout;
        for (int button = 0; button < 3; ++button) {
            auto* push = new QPushButton(p.phrase(1, true));
            shown << push->text();
            buttons->addWidget(push);
        }
        layout->addLayout(buttons);
        styleWidget(form, dark, 13);
        p.widget(form, QRectF(20 + (panel % 3) * 630, 20 + (panel / 3) * 530, 600, 510), shown);
    }
}

inline void drawDialogs(ScreenPainter& p, bool dark)
{
    p.fill(QRectF(0, 0, 1920, 1080), dark ? QColor(0x10, 0x18, 0x20) : QColor(0x6d, 0x8b, 0xa6));
    for (int dialog = 0; dialog < 8; ++dialog) {
        QWidget box;
        QStringList shown;
        auto* layout = new QVBoxLayout(&box);
        auto* title = new QLabel(p.phrase(3, true));
        title->setFont(font("DejaVu Sans", 12, true));
        shown << title->text();
        layout->addWidget(title);
        for (int line = 0; line < 3; ++line) {
            auto* message = new QLabel(p.phrase(6, true));
            shown << message->text();
            layout->addWidget(message);
        }
        auto* remember = new QCheckBox(p.phrase(3, true));
        shown << remember->text();
        layout->addWidget(remember);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        for (const QString& label : {QStringLiteral("Cancel"), p.phrase(1, true)}) {
            auto* push = new QPushButton(label);
            shown << label;
            buttons->addWidget(push);
        }
        layout->addLayout(buttons);
        styleWidget(box, dark, 11);
        title->setFont(font("DejaVu Sans", 12, true));
        p.widget(box, QRectF(40 + (dialog % 4) * 470, 60 + (dialog / 4) * 500, 440, 220), shown);
    }
}

inline void drawWidgetLists(ScreenPainter& p, bool dark)
{
    QWidget window;
    QStringList shown;
    auto* layout = new QHBoxLayout(&window);
    auto* list = new QListWidget;
    for (int row = 0; row < 34; ++row) {
        list->addItem(p.phrase(2, true));
        shown << list->item(row)->text();
    }
    list->setCurrentRow(3);
    auto* tree = new QTreeWidget;
    tree->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Kind")});
    shown << QStringLiteral("Name Size Kind");
    for (int row = 0; row < 8; ++row) {
        auto* folder = new QTreeWidgetItem(tree, {p.word(), QString(), QStringLiteral("Folder")});
        shown << folder->text(0) << folder->text(2);
        for (int child = 0; child < 3; ++child) {
            auto* item = new QTreeWidgetItem(
                folder, {p.word() + QStringLiteral(".png"), QStringLiteral("%1 KB").arg(p.number(2, 900)), p.word()});
            shown << item->text(0) << item->text(1) << item->text(2);
        }
        folder->setExpanded(true);
    }
    tree->header()->resizeSection(0, 320);
    tree->setCurrentItem(tree->topLevelItem(1));
    auto* tabs = new QTabWidget;
    for (int tab = 0; tab < 4; ++tab) {
        auto* page = new QLabel(p.phrase(4, true));
        page->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        const QString name = p.phrase(1, true);
        tabs->addTab(page, name);
        shown << name;
        if (tab == 0) {
            shown << page->text();
        }
    }
    auto* side = new QVBoxLayout;
    auto* toolbar = new QToolBar;
    for (int action = 0; action < 5; ++action) {
        const QString name = p.phrase(1, true);
        toolbar->addAction(name);
        shown << name;
    }
    side->addWidget(toolbar);
    side->addWidget(tabs);
    layout->addWidget(list, 2);
    layout->addWidget(tree, 4);
    layout->addLayout(side, 3);
    styleWidget(window, dark, 13);
    p.widget(window, QRectF(0, 0, 1920, 1080), shown);
}

inline void drawWidgetTable(ScreenPainter& p, bool dark)
{
    QTableWidget table(40, 7);
    QStringList shown;
    const QStringList headers{QStringLiteral("Invoice"),  QStringLiteral("Date"),  QStringLiteral("Client"),
                              QStringLiteral("Quantity"), QStringLiteral("Price"), QStringLiteral("Tax"),
                              QStringLiteral("Total")};
    table.setHorizontalHeaderLabels(headers);
    shown << headers;
    for (int row = 0; row < 40; ++row) {
        const QStringList cells{QStringLiteral("INV-%1").arg(p.number(10000, 99999)),
                                QStringLiteral("2024-%1-%2")
                                    .arg(p.number(1, 12), 2, 10, QLatin1Char('0'))
                                    .arg(p.number(1, 28), 2, 10, QLatin1Char('0')),
                                p.phrase(1, true),
                                QString::number(p.number(1, 500)),
                                p.amount(),
                                QStringLiteral("%1%").arg(p.number(0, 25)),
                                p.amount()};
        for (int column = 0; column < 7; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column >= 3) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            table.setItem(row, column, item);
        }
        shown << cells;
    }
    table.setAlternatingRowColors(true);
    table.verticalHeader()->setDefaultSectionSize(25);
    for (int column = 0; column < 7; ++column) {
        table.horizontalHeader()->resizeSection(column, 260);
    }
    for (int row = 1; row <= 40; ++row) {
        shown << QString::number(row);
    }
    styleWidget(table, dark, 13);
    p.widget(table, QRectF(0, 0, 1920, 1080), shown);
}

inline void drawSpreadsheet(ScreenPainter& p)
{
    p.fill(QRectF(0, 0, 1920, 1080), Qt::white);
    const QFont cell = font("DejaVu Sans", 12);
    const QFont header = font("DejaVu Sans", 12, true);
    const QColor grid(0xd4, 0xd4, 0xd4);
    const int columns = 11;
    const qreal width = 170, height = 24;
    p.fill(QRectF(0, 0, 1920, 28), QColor(0x44, 0x72, 0xc4));
    for (int column = 0; column < columns; ++column) {
        p.centred(QRectF(30 + column * width, 0, width, 28), column == 0 ? QStringLiteral("Region") : p.word(), header,
                  Qt::white);
    }
    for (int row = 0; row < 43; ++row) {
        const qreal top = 28 + row * height;
        if (row % 2 == 1) {
            p.fill(QRectF(30, top, columns * width, height), QColor(0xd9, 0xe1, 0xf2));
        }
        p.text(QPointF(4, top + 17), QString::number(row + 1), font("DejaVu Sans", 11), QColor(0x60, 0x60, 0x60));
        for (int column = 0; column < columns; ++column) {
            const QRectF area(30 + column * width, top, width, height);
            const QString value = column == 0 ? p.phrase(1, true)
                                              : QLocale(QLocale::English).toString(p.number(0, 999999)) +
                                                    QStringLiteral(".%1").arg(p.number(0, 99), 2, 10, QLatin1Char('0'));
            p.aligned(area.adjusted(6, 0, -6, 0), (column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                      value, cell, row == 42 ? QColor(0xc0, 0x00, 0x00) : QColor(0x1a, 0x1a, 0x1a));
            p.fill(QRectF(area.right(), top, 1, height), grid);
            p.fill(QRectF(area.left(), area.bottom(), width, 1), grid);
        }
    }
}

// ---- coloured controls ----

inline const QList<QColor>& controlColours()
{
    static const QList<QColor> colours{QColor(0x0a, 0x84, 0xff), QColor(0x1a, 0x73, 0xe8), QColor(0x34, 0xc7, 0x59),
                                       QColor(0xff, 0x95, 0x00), QColor(0xff, 0x3b, 0x30), QColor(0x8e, 0x8e, 0x93),
                                       QColor(0xaf, 0x52, 0xde), QColor(0x30, 0xb0, 0xc7), QColor(0x2e, 0x7d, 0x32),
                                       QColor(0x6c, 0x75, 0x7d), QColor(0xd6, 0x33, 0x84), QColor(0x58, 0x56, 0xd6)};
    return colours;
}

inline void drawButtons(ScreenPainter& p, bool blueOnly)
{
    for (int half = 0; half < 2; ++half) {
        const bool dark = half == 1;
        p.fill(QRectF(0, half * 540, 1920, 540), dark ? QColor(0x1c, 0x1c, 0x1e) : QColor(0xf5, 0xf5, 0xf7));
        for (int row = 0; row < 9; ++row) {
            qreal x = 30;
            while (x < 1700) {
                const QString label = p.phrase(p.number(1, 2), true);
                const QFont labelFont = font("DejaVu Sans", row % 3 == 0 ? 12 : 13, row % 2 == 0);
                const qreal width = QFontMetricsF(labelFont).horizontalAdvance(label) + 36;
                const QColor colour =
                    blueOnly ? controlColours()[p.number(0, 1)]
                             : controlColours()[p.number(2, static_cast<int>(controlColours().size()) - 1)];
                const QRectF button(x, half * 540 + 30 + row * 56, width, 30);
                p.roundedFill(button, 6, colour);
                p.centred(button, label, labelFont, Qt::white);
                x += width + 24;
            }
        }
    }
}

inline void drawBadges(ScreenPainter& p)
{
    p.fill(QRectF(0, 0, 1920, 1080), Qt::white);
    p.fill(QRectF(960, 0, 960, 1080), QColor(0x24, 0x24, 0x26));
    for (int side = 0; side < 2; ++side) {
        const QColor ink = side == 0 ? QColor(0x1d, 0x1d, 0x1f) : QColor(0xe5, 0xe5, 0xea);
        for (int row = 0; row < 26; ++row) {
            const qreal top = 20 + row * 40;
            qreal x = 30 + side * 960;
            x += p.text(QPointF(x, top + 20), p.phrase(p.number(2, 4), true), font("DejaVu Sans", 13), ink) + 16;
            for (int badge = p.number(1, 3); badge > 0; --badge) {
                const QString label = p.number(0, 2) == 0 ? QString::number(p.number(1, 999)) : p.word();
                const QFont badgeFont = font("DejaVu Sans", 11, true);
                const qreal width = QFontMetricsF(badgeFont).horizontalAdvance(label) + 16;
                const QRectF pill(x, top + 5, width, 19);
                p.roundedFill(pill, 9.5, controlColours()[p.number(0, static_cast<int>(controlColours().size()) - 1)]);
                p.centred(pill, label, badgeFont, Qt::white);
                x += width + 10;
            }
        }
    }
}

inline void drawMessages(ScreenPainter& p)
{
    p.fill(QRectF(0, 0, 1920, 1080), QColor(0xfa, 0xfa, 0xfa));
    p.fill(QRectF(1280, 0, 640, 1080), QColor(0x2b, 0x2b, 0x2e));
    qreal top = 20;
    while (top < 980) {
        const bool mine = p.number(0, 1) == 1;
        const QString message = p.phrase(p.number(3, 9), true);
        const QFont bubbleFont = font("DejaVu Sans", 14);
        const qreal width = QFontMetricsF(bubbleFont).horizontalAdvance(message) + 32;
        const QRectF bubble(mine ? 1240 - width : 40, top, width, 34);
        p.roundedFill(bubble, 17, mine ? QColor(0x0a, 0x84, 0xff) : QColor(0xe9, 0xe9, 0xeb));
        p.centred(bubble, message, bubbleFont, mine ? Qt::white : QColor(0x1c, 0x1c, 0x1e));
        top += 46;
    }
    // Notification cards: white text on dark cards, banners in colour.
    for (int card = 0; card < 8; ++card) {
        const QRectF area(1300, 20 + card * 130, 600, 110);
        const bool banner = card % 3 == 2;
        p.roundedFill(area, 10, banner ? controlColours()[card % 5] : QColor(0x3a, 0x3a, 0x3c));
        p.text(area.topLeft() + QPointF(16, 30), p.phrase(3, true), font("DejaVu Sans", 14, true), Qt::white);
        p.text(area.topLeft() + QPointF(16, 58), p.phrase(6, true), font("DejaVu Sans", 13), Qt::white);
        p.text(area.topLeft() + QPointF(16, 86), p.phrase(5, true), font("DejaVu Sans", 12),
               banner ? Qt::white : QColor(0xae, 0xae, 0xb2));
    }
}

// ---- low contrast ----

inline void drawStatusText(ScreenPainter& p, bool dark)
{
    const QColor window = dark ? QColor(0x25, 0x25, 0x26) : QColor(0xff, 0xff, 0xff);
    const QColor bar = dark ? QColor(0x33, 0x33, 0x33) : QColor(0xf0, 0xf0, 0xf0);
    const QList<QColor> faint = dark ? QList<QColor>{QColor(0x85, 0x85, 0x85), QColor(0x75, 0x75, 0x75)}
                                     : QList<QColor>{QColor(0x9a, 0x9a, 0x9a), QColor(0x8a, 0x8a, 0x8a)};
    const QColor ink = dark ? QColor(0xcc, 0xcc, 0xcc) : QColor(0x33, 0x33, 0x33);
    p.fill(QRectF(0, 0, 1920, 1080), window);
    for (int row = 0; row < 22; ++row) {
        const qreal top = 20 + row * 46;
        p.text(QPointF(40, top + 16), p.phrase(p.number(3, 6), true), font("DejaVu Sans", 14), ink);
        p.text(QPointF(40, top + 34), p.phrase(p.number(4, 8)), font("DejaVu Sans", 11), faint[row % 2]);
        p.text(QPointF(900, top + 16), QStringLiteral("%1 minutes ago").arg(p.number(2, 59)), font("DejaVu Sans", 11),
               faint[0]);
        p.text(QPointF(1200, top + 16), p.phrase(3), font("DejaVu Sans", 12), faint[1]);
    }
    // A placeholder in an empty field and a status bar along the bottom.
    p.fill(QRectF(1500, 30, 380, 30), dark ? QColor(0x1e, 0x1e, 0x1e) : QColor(0xfa, 0xfa, 0xfa));
    p.text(QPointF(1510, 50), p.phrase(2, true), font("DejaVu Sans", 13), faint[0]);
    p.fill(QRectF(0, 1054, 1920, 26), bar);
    qreal x = 12;
    for (int item = 0; item < 8; ++item) {
        x += p.text(QPointF(x, 1072), p.phrase(2, true), font("DejaVu Sans", 11), faint[item % 2]) + 40;
    }
}

// ---- translucent ----

/// A screen with alpha: translucent panels with white and dark text over a transparent ground.
inline void drawTranslucentPanels(ScreenPainter& p)
{
    for (int panel = 0; panel < 6; ++panel) {
        const bool darkPanel = panel % 2 == 0;
        const QRectF area(30 + (panel % 3) * 630, 40 + (panel / 3) * 520, 600, 480);
        p.roundedFill(area, 14, darkPanel ? QColor(0x20, 0x20, 0x24, 150) : QColor(0xf0, 0xf0, 0xf4, 170));
        const QColor ink = darkPanel ? QColor(0xff, 0xff, 0xff) : QColor(0x1c, 0x1c, 0x1e);
        p.text(area.topLeft() + QPointF(20, 36), p.phrase(3, true), font("DejaVu Sans", 18, true), ink);
        p.paragraphs(area.adjusted(20, 50, -20, -20), font("DejaVu Sans", 14), {ink}, 22, 0);
    }
}

/// Light text straight on a transparent ground, as a caption exported for a dark page.
inline void drawTransparentText(ScreenPainter& p)
{
    p.text(QPointF(40, 50), p.phrase(4, true), font("DejaVu Sans", 26, true), Qt::white);
    p.paragraphs(QRectF(40, 70, 860, 990), font("DejaVu Sans", 15), {Qt::white, QColor(0xe8, 0xe8, 0xe8)}, 26);
    p.paragraphs(QRectF(1000, 20, 880, 1040), font("DejaVu Sans", 13), {QColor(0xf2, 0xf2, 0xf2)}, 22);
}

// ---- a desktop of several ----

inline void drawMixedDesktop(ScreenPainter& p)
{
    p.fill(QRectF(0, 0, 1920, 1080), QColor(0x3a, 0x4a, 0x5a));
    p.fill(QRectF(40, 40, 900, 960), Qt::white);
    p.fill(QRectF(40, 40, 900, 30), QColor(0xe8, 0xe8, 0xe8));
    p.paragraphs(QRectF(56, 44, 600, 24), font("DejaVu Sans", 13), {QColor(0x33, 0x33, 0x33)}, 20, 0);
    p.paragraphs(QRectF(60, 80, 860, 900), font("DejaVu Sans", 13),
                 {QColor(0x22, 0x22, 0x22), QColor(0x44, 0x44, 0x44)}, 20);
    p.fill(QRectF(980, 40, 900, 960), QColor(0x1e, 0x1e, 0x1e));
    p.fill(QRectF(980, 40, 900, 30), QColor(0x2d, 0x2d, 0x2d));
    p.paragraphs(QRectF(996, 44, 600, 24), font("DejaVu Sans", 13), {QColor(0xcc, 0xcc, 0xcc)}, 20, 0);
    p.paragraphs(
        QRectF(1000, 80, 860, 900), font("DejaVu Sans Mono", 13),
        {QColor(0xd4, 0xd4, 0xd4), QColor(0x56, 0x9c, 0xd6), QColor(0xce, 0x91, 0x78), QColor(0x6a, 0x99, 0x55)}, 19);
    p.fill(QRectF(0, 1052, 1920, 28), QColor(0x00, 0x7a, 0xcc));
    p.paragraphs(QRectF(10, 1052, 1900, 22), font("DejaVu Sans", 11), {Qt::white}, 18, 0);
}

inline void drawWebPage(ScreenPainter& p)
{
    p.fill(QRectF(0, 0, 1920, 1080), Qt::white);
    p.fill(QRectF(0, 0, 1920, 56), QColor(0x24, 0x29, 0x2f));
    qreal x = 30;
    for (int link = 0; link < 7; ++link) {
        x += p.text(QPointF(x, 34), p.phrase(1, true), font("DejaVu Sans", 14, true), Qt::white) + 30;
    }
    p.text(QPointF(300, 120), p.phrase(5, true), font("DejaVu Sans", 32, true), QColor(0x1f, 0x23, 0x28));
    p.paragraphs(QRectF(300, 140, 1000, 300), font("DejaVu Serif", 16), {QColor(0x1f, 0x23, 0x28)}, 26);
    for (int item = 0; item < 10; ++item) {
        p.text(QPointF(320, 480 + item * 30), p.phrase(p.number(2, 5), true), font("DejaVu Sans", 15),
               QColor(0x09, 0x69, 0xda));
    }
    p.paragraphs(QRectF(300, 790, 1000, 200), font("DejaVu Sans", 15), {QColor(0x1f, 0x23, 0x28)}, 24);
    p.fill(QRectF(1400, 100, 440, 880), QColor(0xf6, 0xf8, 0xfa));
    p.paragraphs(QRectF(1420, 110, 400, 860), font("DejaVu Sans", 13), {QColor(0x57, 0x60, 0x6a)}, 21);
    p.fill(QRectF(0, 1040, 1920, 40), QColor(0xf6, 0xf8, 0xfa));
    p.text(QPointF(300, 1064), p.phrase(8, true), font("DejaVu Sans", 12), QColor(0x6e, 0x77, 0x81));
}

/// Every screen of the corpus at device pixel ratio `ratio` (1 or 2): full-HD in device-independent pixels.
inline std::vector<CorpusScreen> renderCorpus(qreal ratio)
{
    struct Recipe {
        const char* name;
        const char* kind;
        bool translucent;
        std::function<void(ScreenPainter&)> draw;
    };
    const std::vector<Recipe> recipes = {
        {"document-light", "document", false, [](ScreenPainter& p) { drawDocument(p, false); }},
        {"document-dark", "document", false, [](ScreenPainter& p) { drawDocument(p, true); }},
        {"web-page", "document", false, drawWebPage},
        {"editor-dark", "editor", false, [](ScreenPainter& p) { drawEditor(p, true); }},
        {"editor-light", "editor", false, [](ScreenPainter& p) { drawEditor(p, false); }},
        {"terminal-dark", "terminal", false, [](ScreenPainter& p) { drawTerminal(p, true); }},
        {"terminal-light", "terminal", false, [](ScreenPainter& p) { drawTerminal(p, false); }},
        {"forms-light", "widgets", false, [](ScreenPainter& p) { drawWidgetForms(p, false); }},
        {"forms-dark", "widgets", false, [](ScreenPainter& p) { drawWidgetForms(p, true); }},
        {"lists-light", "widgets", false, [](ScreenPainter& p) { drawWidgetLists(p, false); }},
        {"lists-dark", "widgets", false, [](ScreenPainter& p) { drawWidgetLists(p, true); }},
        {"dialogs-light", "dialog", false, [](ScreenPainter& p) { drawDialogs(p, false); }},
        {"dialogs-dark", "dialog", false, [](ScreenPainter& p) { drawDialogs(p, true); }},
        {"table-light", "table", false, [](ScreenPainter& p) { drawWidgetTable(p, false); }},
        {"table-dark", "table", false, [](ScreenPainter& p) { drawWidgetTable(p, true); }},
        {"spreadsheet", "table", false, drawSpreadsheet},
        {"buttons-blue", "coloured", false, [](ScreenPainter& p) { drawButtons(p, true); }},
        {"buttons-colours", "coloured", false, [](ScreenPainter& p) { drawButtons(p, false); }},
        {"badges", "coloured", false, drawBadges},
        {"messages", "coloured", false, drawMessages},
        {"status-light", "low-contrast", false, [](ScreenPainter& p) { drawStatusText(p, false); }},
        {"status-dark", "low-contrast", false, [](ScreenPainter& p) { drawStatusText(p, true); }},
        {"translucent-panels", "translucent", true, drawTranslucentPanels},
        {"transparent-text", "translucent", true, drawTransparentText},
        {"mixed-desktop", "mixed", false, drawMixedDesktop},
    };
    std::vector<CorpusScreen> screens;
    unsigned seed = 11;
    for (const Recipe& recipe : recipes) {
        CorpusScreen& screen = screens.emplace_back();
        screen.name = QString::fromLatin1(recipe.name);
        screen.kind = QString::fromLatin1(recipe.kind);
        ScreenPainter painter(screen, ratio, seed++, recipe.translucent);
        recipe.draw(painter);
    }
    return screens;
}

} // namespace lumetrove::bench
