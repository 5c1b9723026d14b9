#pragma once

// Mending the engine's reading of single words: figures it takes for letters, a glyph it reads twice, two
// words it runs together; and what kind of number a word is.

#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace lumetrove::recognition {

/// `word` with the letter O read for the figure 0 where it stands among figures: in a hexadecimal number
/// ("0x6DA3", "#57AB0A") or a number ("2O24"). Screen fonts draw a narrow zero that the engine, weighing
/// letters as they come in words, often takes for an O; words of letters keep theirs. For the same reason a 1
/// among the letters of a hexadecimal number (a hash, a colour, an address) is read as the letter l or I,
/// which no such number holds: where a word is made of hexadecimal digits, two figures at least and either a
/// third of them figures or figures apart from each other among the letters, and of l or I, these are its
/// ones; so are those of a hash of eight small letters and figures or more, one figure at least ("a1aebaf7"
/// read "alaebaf7"). Words of letters with a number after them ("label12") hold fewer figures, in one run at
/// their end, and a short word a measure ("20lb"): a number without "#" or "0x" before it is six digits long
/// or more, and a word of eight letters a-f and l holds a double l ("called12", "labelled"). A 6 and a 5 are read as G
/// and S, which no hexadecimal number holds either, where the capital stands among small letters and figures
/// ("Gb288abe"), after "0x" ("OxAGE3") or in a colour of capitals beside a figure ("#BO5GED"); elsewhere a word of
/// capitals may be a tag ("#ACCESS", "#BASE64"). So is the 1 after "0x" where a figure or the S or G of one stands
/// among the capitals ("OxISEA"), the 8 read as a B beside a figure among small letters ("B577af17"; a capitalised
/// word, "Bead12", keeps it) and the c read as a cent sign in a number ("2848¢964"). In a version or another number of
/// points, an l, I, O, o or @ among its figures is a 1 or a 0 ("vl.10.72", "v@.5.57").
QString withFiguresAmongFigures(QString word);

/// A word as the engine read it, or one of the words it ran together: its text, and the span of its symbols
/// across the block's pixels (none where the engine gave no boxes of its symbols).
struct WordPart {
    QString text;
    std::optional<std::pair<int, int>> span;
};

/// A symbol of a word as the engine read it, with its box.
struct Symbol {
    QString text;
    int left = 0, top = 0, right = 0, bottom = 0;
};

/// `symbols` with each glyph read once. Now and then the engine reads one glyph twice, as both of the shapes it weighs
/// for it: a letter and a figure ("eO0ee2210" for "e0ee2210", "#F9ODC48" for "#F9DC48", "#EQ950FE"), or one letter in
/// both its cases (the foot of a monospaced l makes it an L too: "Llength" for "length"). Such two lie over each other
/// by two fifths of the narrower at least and together span no more than a glyph and two fifths of the word's (its
/// median letter or figure). Of a letter and a figure, the figure is kept in a number (one more figure in the word, or
/// after "#" or "0x"), the letter elsewhere ("friend->i1sland"); of a letter in two cases, the case of the letter
/// beside it. The kept glyph spans both boxes, and a third reading over it in one of its two shapes is the same glyph
/// ("0xCcC989"). The engine's boxes are rough, but two such neighbours span more than that ("aroundDigital"); two
/// neighbours of other kinds are left as read, as the engine's boxes of kerned letters lie over each other as much
/// ("fi", "rn", "Te").
void readEachGlyphOnce(std::vector<Symbol>& symbols);

/// `symbols` with the figure 1 of a hexadecimal number read once where the engine read it as two unlike bars
/// side by side, a 1 and an l ("bec4fc119" for "bec4fc19"): in a monospaced font the boxes of a 1 and of its
/// foot. The two bars of one glyph span less than half as much again as the number's other glyphs do; two
/// glyphs, a whole advance and more. Words of letters keep their bars ("Illustrator", "will").
void mergeBarsOfOneFigure(std::vector<Symbol>& symbols);

/// `symbols` of a number with each figure read once where the engine read one glyph as two, a figure and another
/// figure or a letter ("0xF901E" for "0xF91E", "82.6601" for "82.601", "#B60FEEB" for "#B6FEEB"): the second box
/// starts within the first, by two fifths of the narrower at least, and ends beyond it, the two spanning no more than
/// half as much again as the word's median glyph. The engine's rough box of a glyph of its own starts where the one
/// before it does, or spans two glyphs. Of a figure and a letter the figure is kept; of two figures the one in the
/// narrower box, as the other took in ink beside the glyph (the dotted zero of a monospaced font read "60"). Only
/// words of figures, hexadecimal letters and the letters the engine takes for figures are mended, with two figures
/// (one after "#" or "0x") and four glyphs at least, enough for the width of one.
void readEachFigureOnce(std::vector<Symbol>& symbols);

/// The words of `symbols`, set apart where a letter meets a figure across a blank as wide as a space: there the
/// engine has dropped the space between two words ("6:45AM" for "6:45 AM", "Apr5," for "Apr 5,"). A figure
/// stands a tenth of its height or so from a letter of its own word ("16GB", "v12"), a space is some two fifths
/// of it, and twice as wide as any other blank of the word.
std::vector<WordPart> partsAtSpaces(const std::vector<Symbol>& symbols);

/// Whether `after`, the engine's next word on the line, goes on with the number `before` without a space between
/// them: both are figures, points and colons only, or the glyphs of a hexadecimal number with figures in each
/// ("043 f3ab0" for "043f3ab0": the large glyphs of a monospaced font stand apart as far as words do), in a
/// monospaced font (each glyph stands one advance from the next, a point as far as a figure), and the glyphs on either
/// side of the blank stand no further apart than half as much again as that. The narrow point sits in the middle of its
/// cell, so the ink after it stands apart as far as words of a proportional font do and the engine sets "150.117."
/// apart from "143.98"; a space there would be a whole advance more.
bool goesOnWithoutSpace(const std::vector<Symbol>& before, const std::vector<Symbol>& after);

/// Whether `word` holds both figures and letters: where the engine takes one for the other ("1s" for "is"),
/// though it is sure of its reading.
bool mixesFiguresAndLetters(const QString& word);

/// Whether `word` is a number of some kind and nothing else: figures, with the points, colons, slashes,
/// dashes and signs between and around them, and no letter.
bool onlyFigures(const QString& word);

/// Where the figures of `text` and what lies between them stand: from its first letter or figure to its
/// last, as the first one's index and the length.
std::pair<qsizetype, qsizetype> figureSpan(const QString& text);

/// `text` from its first letter or figure to its last (see `figureSpan`).
QString figuresOf(const QString& text);

/// Where the number of `word` starts: after the "v" of a version ("v1.10.72"), else at the word's start.
qsizetype afterVersionMark(const QString& word);

/// Where the digits of `word` stand, as their index and length, if it is a hexadecimal number as the figure
/// rules take one (see `withFiguresAmongFigures`): digits after "0x" or "#" (a figure among those of a
/// colour), or a hash of eight small letters a-f and figures or more, with both.
std::optional<std::pair<qsizetype, qsizetype>> hexadecimalDigits(const QString& word);

/// The colour that `word` is where the line read figures of it as the capitals they look like ("#AGB1F3" and
/// "#CCABOD" for "#A6B1F3" and "#CCAB0D"): a "#" and six or eight capitals and figures, each a hexadecimal
/// digit or the G, S, O, I or l of a 6, 5, 0 or 1, those read as the figures. Nothing elsewhere, nor for a word
/// with a number after it ("#BASE64"). A hashtag of such capitals ("#ACCESS") is a word: the caller asks its
/// dictionary.
std::optional<QString> colourOfFigureLetters(const QString& word);

} // namespace lumetrove::recognition
