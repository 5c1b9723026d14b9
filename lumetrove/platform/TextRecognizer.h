#pragma once

#include <QImage>
#include <QRectF>
#include <QString>
#include <chrono>
#include <functional>
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

/// A recognition given up because its caller no longer wanted it.
class TextRecognitionCancelled : public TextRecognitionError {
public:
    TextRecognitionCancelled() : TextRecognitionError("The text recognition was cancelled") {}
};

/// On-device text recognition. Implementations may be called from any thread, several at once.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;

    /// The text of `image`; boxes are in its pixel coordinates. Throws `TextRecognitionError`. Slow: never
    /// call it on the main thread.
    virtual RecognizedText recognize(const QImage& image) const = 0;
    /// As `recognize`, but gives up soon after `cancelled` returns true, throwing `TextRecognitionCancelled`:
    /// the text of an image nobody looks at any more should not keep the processors busy. `cancelled` is
    /// asked now and then, from the recognising threads. A recogniser that cannot stop early finishes.
    virtual RecognizedText recognizeUnlessCancelled(const QImage& image, const std::function<bool()>& cancelled) const
    {
        (void)cancelled;
        return recognize(image);
    }
};

/// Tesseract with its English model, in this process. Its engines are shared by every Tesseract recogniser
/// of the process; screen images are prepared first so that dark themes and small interface fonts are read.
/// Defined in the text-recognition library (lumetrove_text_recognition), which the helper, the tests and the
/// benchmarks link: the program itself links no recognition engine.
std::shared_ptr<TextRecognizer> makeTesseractTextRecognizer();

/// The file name of the text-recognition helper, a program of its own installed beside the program.
inline constexpr char textRecognitionHelperName[] = "lumetrove-recognize-text";
/// The argument the helper is started with; it refuses to run without it.
inline constexpr char textRecognitionHelperArgument[] = "--recognize-text";
/// The text-recognition helper beside this process's executable.
QString textRecognitionHelperProgram();

/// Tesseract in helper processes: `executable` (the helper program) started with `textRecognitionHelperArgument`,
/// which calls `runTextRecognitionHelper`. The engines, their models (tens of megabytes) and the recognition
/// libraries then stay out of this process, and a recognition that crashes ends only its helper (the call throws
/// `TextRecognitionError`). Each recognition takes an idle helper or starts one (a tenth of a second);
/// helpers wait for the next while engines are kept (`setTextRecognitionEnginesKept`), else end at once, and
/// a helper that has had no work for `idleLimit` ends too.
std::shared_ptr<TextRecognizer>
makeHelperProcessTextRecognizer(const QString& executable,
                                std::chrono::milliseconds idleLimit = std::chrono::seconds(10));

/// The helper's side: answers the recognitions asked on standard input, with this process's Tesseract
/// recogniser, until the input ends. Returns the exit status. In the text-recognition library.
int runTextRecognitionHelper();

/// Whether recognisers keep their engines between recognitions (the default). Each engine holds its model,
/// tens of megabytes; a program idle in the tray turns keeping off, which ends the idle engines at once and
/// each later one as soon as its recognition is done, and hands the freed memory back to the system.
void setTextRecognitionEnginesKept(bool kept);
bool textRecognitionEnginesKept();
/// Calls `listener` with every change of the keeping, on the thread that changes it. For recognisers.
void onTextRecognitionKeepingChanged(std::function<void(bool)> listener);

/// The process-wide recogniser: Tesseract in helper processes of the helper beside this program, unless another
/// was set. Any thread.
std::shared_ptr<TextRecognizer> sharedTextRecognizer();
/// Replaces the process-wide recogniser (tests set one in this process). Any thread.
void setSharedTextRecognizer(std::shared_ptr<TextRecognizer> recognizer);

} // namespace lumetrove
