#pragma once

#include <QImage>
#include <QRectF>
#include <QString>
#include <memory>
#include <stdexcept>
#include <vector>

namespace lumetrove {

/// One recognised word with its box in the recognised image's pixel coordinates.
struct RecognizedWord {
    QString text;
    QRectF boundingBox;
    /// The engine's confidence, 0 to 100.
    float confidence = 0;
};

/// One recognised line: its words in reading order, joined by single spaces in `text`.
struct RecognizedLine {
    QString text;
    QRectF boundingBox;
    std::vector<RecognizedWord> words;
};

/// The text of one image, line by line in reading order.
struct RecognizedText {
    std::vector<RecognizedLine> lines;

    /// The lines joined by line feeds, with no trailing line feed; empty when there are none.
    QString joinedLines() const;
};

/// A recognition that could not run (no engine, language data missing, an unreadable image).
class TextRecognitionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// On-device text recognition. Implementations may be called from any thread, several at once.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;

    /// The text of `image`; boxes are in its pixel coordinates. Throws `TextRecognitionError`. Slow: never
    /// call it on the main thread.
    virtual RecognizedText recognize(const QImage& image) const = 0;
};

/// Tesseract with its English model. Its engines are shared by every Tesseract recogniser of the process;
/// screen images are prepared first so that dark themes and small interface fonts are read.
std::shared_ptr<TextRecognizer> makeTesseractTextRecognizer();

/// Whether the Tesseract engines are kept between recognitions (the default). Each holds its model, tens of
/// megabytes; a program idle in the tray turns keeping off, which ends the idle engines at once and each
/// later one as soon as its recognition is done, and hands the freed memory back to the system.
void setTextRecognitionEnginesKept(bool kept);

/// The process-wide recogniser (Tesseract), made on first use. Any thread.
std::shared_ptr<TextRecognizer> sharedTextRecognizer();

} // namespace lumetrove
