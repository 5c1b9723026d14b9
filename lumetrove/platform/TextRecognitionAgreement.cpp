#include "lumetrove/platform/TextRecognitionAgreement.h"

#include <QStringList>
#include <QStringView>
#include <algorithm>
#include <optional>

namespace lumetrove::recognition {

namespace {

/// What a reading is worth: the letters and figures of its words, each counted by the word's confidence.
/// Symbols read in a blot of ink come with a low confidence and count for little.
double worthOf(const std::vector<ReadLine>& lines)
{
    double worth = 0;
    for (const ReadLine& line : lines) {
        for (const RecognizedWord& word : line.line.words) {
            const auto letters =
                std::count_if(word.text.begin(), word.text.end(), [](QChar c) { return c.isLetterOrNumber(); });
            worth += static_cast<double>(letters) * word.confidence / 100;
        }
    }
    return worth;
}

/// How another reading reads the place of one word: its words there (one, or several where it sets apart what
/// the word holds, "event. txt" for "event.txt"), joined by spaces; compared without the spaces beside a point or
/// a mark. A space between two letters or figures is a break between words, as a mark is: a reading that sets
/// "stream" and "enough" apart there, where it took the underscore of "stream_enough" for a blank, does not agree
/// with one that runs them together into "streamenough".
struct WordReading {
    QString text;
    float confidence = 0;
    QString key() const
    {
        QString key;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const bool between =
                i > 0 && i + 1 < text.size() && text[i - 1].isLetterOrNumber() && text[i + 1].isLetterOrNumber();
            if (text[i] != QLatin1Char(' ') || between) {
                key += text[i];
            }
        }
        return key;
    }
};

/// How `reading` reads the place of `word`: the words lying mostly in its box, when together they span about
/// the box, neither much less (part of the word) nor much more (the word run together with the next).
std::optional<WordReading> readingOfPlace(const RecognizedWord& word, const std::vector<ReadLine>& reading)
{
    const QRectF& box = word.boundingBox;
    WordReading read;
    QRectF span;
    for (const ReadLine& line : reading) {
        for (const RecognizedWord& other : line.line.words) {
            const QRectF common = box.intersected(other.boundingBox);
            if (common.width() * common.height() < 0.5 * other.boundingBox.width() * other.boundingBox.height()) {
                continue;
            }
            read.confidence = span.isNull() ? other.confidence : std::min(read.confidence, other.confidence);
            read.text += read.text.isEmpty() ? other.text : QLatin1Char(' ') + other.text;
            span = span.isNull() ? other.boundingBox : span.united(other.boundingBox);
        }
    }
    if (span.isNull() || span.width() > 1.3 * box.width() || box.width() > 1.3 * span.width()) {
        return std::nullopt;
    }
    return read;
}

/// Whether `candidate` runs together words that `chosen` sets apart by a space, and is otherwise alike ("11:27AM"
/// beside "11:27 AM"): the engine drops such spaces more often than it makes them up.
bool runsTogetherWhatItSetsApart(const WordReading& candidate, const WordReading& chosen)
{
    const QString key = candidate.key(), apart = chosen.key();
    return key != apart && QString(apart).remove(QLatin1Char(' ')) == key;
}

/// Whether `candidate` sets apart a number and a word of letters that `chosen` runs together, and is otherwise alike
/// ("9:33 PM" beside "9:33PM", "Apr 5," beside "Apr5,"): a reading that sees a blank there has seen the space the
/// engine drops in small text, where its boxes are too rough to measure it. A number and the letters of its own word
/// ("16GB", "v12") stand too close for any reading to set them apart, and a word of letters or figures both
/// ("a5cc 99") is no such pair.
bool setsApartANumberAndTheLettersOf(const WordReading& candidate, const WordReading& chosen)
{
    if (!runsTogetherWhatItSetsApart(chosen, candidate)) {
        return false;
    }
    const auto number = [](const QString& part) {
        return std::any_of(part.begin(), part.end(), [](QChar c) { return c.isDigit(); }) &&
               std::all_of(part.begin(), part.end(),
                           [](QChar c) { return c.isDigit() || QStringView(u".,:;/-").contains(c); });
    };
    const auto letters = [](const QString& part) {
        return !part.isEmpty() && std::all_of(part.begin(), part.end(), [](QChar c) { return c.isLetter(); });
    };
    const QStringList parts = candidate.text.split(QLatin1Char(' '));
    for (qsizetype i = 1; i < parts.size(); ++i) {
        if (!(number(parts[i - 1]) && letters(parts[i])) && !(letters(parts[i - 1]) && number(parts[i]))) {
            return false;
        }
    }
    return true;
}

/// Whether `candidate` reads an r and an n where `chosen` reads an m, and is otherwise alike ("modern" beside
/// "modem", "return" beside "retum"): the engine joins the strokes of an r and an n that stand close into an m,
/// the more readily where that makes a word it knows, but does not part the strokes of an m. One reading that
/// sees the two letters apart has seen the blank between them.
bool partsTheRAndNOf(const WordReading& candidate, const WordReading& chosen)
{
    const QString key = candidate.key();
    return key.contains(QLatin1String("rn")) && key != chosen.key() &&
           QString(key).replace(QLatin1String("rn"), QLatin1String("m")) == chosen.key();
}

/// Whether `candidate` reads a point between two letters or figures where `chosen` reads none, and is otherwise
/// alike ("notes.txt" beside "notestxt"): in small serif text the point touches the foot of the r or t before it,
/// and a reading that sees it apart has seen it; the engine drops such points, but does not make them up inside a
/// word.
bool seesThePointOf(const WordReading& candidate, const WordReading& chosen)
{
    const QString key = candidate.key(), without = chosen.key();
    for (qsizetype i = 1; i + 1 < key.size(); ++i) {
        if (key[i] == QLatin1Char('.') && key[i - 1].isLetterOrNumber() && key[i + 1].isLetterOrNumber() &&
            QString(key).remove(i, 1) == without) {
            return true;
        }
    }
    return false;
}

/// Adds to `agreed` each word that one of `others` reads where `agreed` reads nothing, when the engine is fairly
/// sure of it: the reading agreed on is the one worth most, but another may read a word that it drops (the last
/// label of a row of buttons, read in the prepared block and lost in the block as it stands). The word joins the
/// line it stands level with, in its place from the left, or else a line of its own in its place from the top.
void addWordsReadOnlyElsewhere(std::vector<ReadLine>& agreed, const std::vector<std::vector<ReadLine>>& others)
{
    constexpr float fairlySure = 60;
    const auto area = [](const QRectF& box) { return box.width() * box.height(); };
    const auto covered = [&](const RecognizedWord& word) {
        for (const ReadLine& line : agreed) {
            for (const RecognizedWord& read : line.line.words) {
                const QRectF common = read.boundingBox.intersected(word.boundingBox);
                if (area(common) > 0.2 * std::min(area(read.boundingBox), area(word.boundingBox))) {
                    return true;
                }
            }
        }
        return false;
    };
    const auto levelWith = [](const QRectF& line, const QRectF& word) {
        return std::min(line.bottom(), word.bottom()) - std::max(line.top(), word.top()) >= 0.5 * word.height();
    };
    for (const std::vector<ReadLine>& reading : others) {
        for (const ReadLine& other : reading) {
            for (const RecognizedWord& word : other.line.words) {
                if (word.confidence < fairlySure ||
                    std::none_of(word.text.begin(), word.text.end(), [](QChar c) { return c.isLetterOrNumber(); }) ||
                    word.boundingBox.isEmpty() || covered(word)) {
                    continue;
                }
                auto line = std::find_if(agreed.begin(), agreed.end(), [&](const ReadLine& read) {
                    return levelWith(read.line.boundingBox, word.boundingBox);
                });
                if (line == agreed.end()) {
                    ReadLine added = other;
                    added.line.words.clear();
                    added.line.boundingBox = word.boundingBox;
                    added.alone = false;
                    line = agreed.insert(std::find_if(agreed.begin(), agreed.end(),
                                                      [&](const ReadLine& read) {
                                                          return read.line.boundingBox.top() > word.boundingBox.top();
                                                      }),
                                         std::move(added));
                }
                std::vector<RecognizedWord>& words = line->line.words;
                words.insert(std::find_if(words.begin(), words.end(),
                                          [&](const RecognizedWord& read) {
                                              return read.boundingBox.left() > word.boundingBox.left();
                                          }),
                             word);
                line->line.boundingBox = line->line.boundingBox.united(word.boundingBox);
                spellFromWords(line->line);
            }
        }
    }
    if (agreed.size() > 1) {
        for (ReadLine& line : agreed) {
            line.alone = false;
        }
    }
}

/// The letters of `text` without the marks around them ("out." for "out"); empty unless it is a word of letters
/// only, two or more.
QString lettersOf(const QString& text)
{
    const auto letter = [](QChar c) { return c.isLetter(); };
    const auto first = std::find_if(text.begin(), text.end(), letter);
    const auto last = std::find_if(text.rbegin(), text.rend(), letter).base();
    if (first >= last || last - first < 2 || !std::all_of(first, last, letter)) {
        return {};
    }
    return QString(first, last - first);
}

/// Whether two words of letters are spelt alike but for a letter or two: as long, and apart in a third of their
/// letters at most ("port" beside "porl"), or alike but for an m read as an r and an n ("attempt", "atternpt").
bool alikeButForALetterOrTwo(const QString& word, const QString& other)
{
    const QString a = word.toLower(), b = other.toLower();
    const auto joined = [](QString text) { return text.replace(QLatin1String("rn"), QLatin1String("m")); };
    if (a.size() != b.size()) {
        return joined(a) == b || joined(b) == a;
    }
    qsizetype apart = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        apart += a[i] != b[i] ? 1 : 0;
    }
    return apart > 0 && apart <= std::max<qsizetype>(1, a.size() / 3);
}

/// Whether `candidate` sets apart into words the dictionary (`isWord`) knows what `chosen` runs together into one it
/// does not know, and is otherwise alike ("Al Assistant" beside "AlAssistant"): where the engine sees no blank
/// between two words of a label, it spells them as one.
bool partsIntoKnownWords(const WordReading& candidate, const WordReading& chosen,
                         const std::function<bool(const QString&)>& isWord)
{
    const QStringList parts = candidate.text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString together = lettersOf(chosen.text);
    if (parts.size() < 2 || together.isEmpty() || isWord(together)) {
        return false;
    }
    QString joined;
    for (const QString& part : parts) {
        const QString word = lettersOf(part);
        if (word.isEmpty() || !isWord(word)) {
            return false;
        }
        joined += word;
    }
    return joined.compare(together, Qt::CaseInsensitive) == 0;
}

/// Whether `candidate` spells as the dictionary (`isWord`) knows what `chosen` misspells: a word it knows where
/// `chosen` is one it does not know, alike but for a letter or two, or words it knows where `chosen` runs them
/// together.
bool spellsAsTheDictionaryWhat(const WordReading& candidate, const WordReading& chosen,
                               const std::function<bool(const QString&)>& isWord)
{
    if (!isWord) {
        return false;
    }
    const QString word = lettersOf(candidate.text), other = lettersOf(chosen.text);
    return (!word.isEmpty() && !other.isEmpty() && alikeButForALetterOrTwo(word, other) && isWord(word) &&
            !isWord(other)) ||
           partsIntoKnownWords(candidate, chosen, isWord);
}

/// The reading of one word that `candidates` (the reading agreed on first, then how the others read its place) agree
/// on: the one most of them read, or the surest where as many read each; but a spelling the dictionary (`isWord`)
/// knows goes before a misspelling of it, an r and an n seen apart before an m, a number and a word set apart before
/// the two run together (see `agreedReading`).
WordReading agreedOn(const std::vector<WordReading>& candidates, const std::function<bool(const QString&)>& isWord)
{
    const auto votes = [&](const WordReading& candidate) {
        return std::count_if(candidates.begin(), candidates.end(),
                             [&](const WordReading& other) { return other.key() == candidate.key(); });
    };
    WordReading chosen = candidates.front();
    for (const WordReading& candidate : candidates) {
        const auto ours = votes(candidate), theirs = votes(chosen);
        // The dictionary settles a misspelling first: enlarged bitmap text parts the strokes of an m too.
        if (spellsAsTheDictionaryWhat(candidate, chosen, isWord) ||
            (!spellsAsTheDictionaryWhat(chosen, candidate, isWord) &&
             (partsTheRAndNOf(candidate, chosen) || setsApartANumberAndTheLettersOf(candidate, chosen) ||
              seesThePointOf(candidate, chosen) ||
              (!partsTheRAndNOf(chosen, candidate) && !runsTogetherWhatItSetsApart(candidate, chosen) &&
               !seesThePointOf(chosen, candidate) &&
               (ours > theirs || (ours == theirs && candidate.confidence > chosen.confidence)))))) {
            chosen = candidate;
        }
    }
    return chosen;
}

} // namespace

QStringList wordsOf(const std::vector<ReadLine>& lines)
{
    QStringList words;
    for (const ReadLine& line : lines) {
        for (const RecognizedWord& word : line.line.words) {
            words.append(word.text);
        }
    }
    return words;
}

std::vector<ReadLine> agreedReading(std::vector<std::vector<ReadLine>> readings,
                                    const std::function<bool(const QString&)>& isWord)
{
    const auto best = std::max_element(readings.begin(), readings.end(),
                                       [](const auto& a, const auto& b) { return worthOf(a) < worthOf(b); });
    std::vector<ReadLine> agreed = std::move(*best);
    readings.erase(best);
    for (ReadLine& line : agreed) {
        std::vector<RecognizedWord>& words = line.line.words;
        for (size_t i = 0; i < words.size(); ++i) {
            RecognizedWord& word = words[i];
            std::vector<WordReading> candidates{{word.text, word.confidence}};
            for (const std::vector<ReadLine>& other : readings) {
                std::optional<WordReading> read = readingOfPlace(word, other);
                // The engine's boxes are rough: a box may reach over the next word, which this reading holds
                // too ("11:38" over "11:38 AM"). That word is not read twice.
                QStringList parts = read ? read->text.split(QLatin1Char(' ')) : QStringList();
                while (parts.size() > 1 && i > 0 &&
                       parts.front().compare(words[i - 1].text, Qt::CaseInsensitive) == 0) {
                    parts.removeFirst();
                }
                while (parts.size() > 1 && i + 1 < words.size() &&
                       parts.back().compare(words[i + 1].text, Qt::CaseInsensitive) == 0) {
                    parts.removeLast();
                }
                if (read) {
                    read->text = parts.join(QLatin1Char(' '));
                }
                // Nor is a neighbour read into this word's place run together with it ("ofthe" for "the" after
                // "of"): the engine, unsure of the block, spells the two out of its dictionary where it sees one.
                const auto keyOf = [](const QString& text) { return QString(text).remove(QLatin1Char(' ')).toLower(); };
                const QString own = keyOf(word.text);
                if (read && ((i > 0 && read->key().toLower() == keyOf(words[i - 1].text) + own) ||
                             (i + 1 < words.size() && read->key().toLower() == own + keyOf(words[i + 1].text)))) {
                    read.reset();
                }
                if (read) {
                    candidates.push_back(*read);
                }
            }
            const WordReading chosen = agreedOn(candidates, isWord);
            // Where the reading agreed on spells the word as this one does, this one's spelling stays.
            if (chosen.key() != candidates.front().key()) {
                word.text = chosen.text;
            }
            word.confidence = chosen.confidence;
        }
        spellFromWords(line.line);
    }
    addWordsReadOnlyElsewhere(agreed, readings);
    return agreed;
}

} // namespace lumetrove::recognition
