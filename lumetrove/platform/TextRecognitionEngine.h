#pragma once

// The engines that read the blocks of an image, kept between recognitions, and the queue of blocks that the
// reading threads share.

#include "lumetrove/platform/TextRecognitionBlocks.h"
#include "lumetrove/platform/TextRecognitionLines.h"

#include <QRect>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QThreadPool;

namespace tesseract {
class TessBaseAPI;
}

namespace lumetrove::recognition {

struct EngineDeleter {
    void operator()(tesseract::TessBaseAPI* engine) const;
};
using Engine = std::unique_ptr<tesseract::TessBaseAPI, EngineDeleter>;

/// Tesseract parallelises tiny steps with OpenMP; every thread that reads limits it to one thread before its
/// first read.
void limitOpenMPInThisThread();

/// An engine of the pool for one read, given back when the read ends. Loading the model costs a tenth of a second,
/// so engines are kept for the next read while they are wanted kept.
class BorrowedEngine {
public:
    BorrowedEngine();
    ~BorrowedEngine();
    BorrowedEngine(const BorrowedEngine&) = delete;
    BorrowedEngine& operator=(const BorrowedEngine&) = delete;
    tesseract::TessBaseAPI* operator->() const { return engine_.get(); }

private:
    Engine engine_;
};

/// The text the engine gave, which is ours to free, without blanks around it.
QString takeText(char* text);

/// The threads the blocks of an image are read on, one engine each; waited for as the process ends.
QThreadPool& readingThreads();

/// Whether the process is ending: the readings under way give up, as the engine's shared dictionaries are
/// destroyed right after.
bool processIsEnding();

/// Blocks to read, taken one at a time by every reading thread of one recognition, and their lines.
struct BlockQueue {
    std::vector<TextBlock> blocks;
    std::vector<std::vector<ReadLine>> lines; // per block
    QRect shown;                              // the image's own pixels, inside the margin it is read in
    /// The indices of `blocks` in the order they are taken: the longest reads first, so that no thread is
    /// still reading a long block when the others have run out of work.
    std::vector<size_t> order;
    std::atomic<size_t> next{0};
    /// The caller's wish to give up, asked before every block and, through the engine, between its words.
    const std::function<bool()>* cancelled = nullptr;
    std::atomic<bool> givenUp{false};

    bool wantsToGiveUp()
    {
        if (!givenUp && (processIsEnding() || (cancelled && *cancelled && (*cancelled)()))) {
            givenUp = true;
        }
        return givenUp;
    }
};

} // namespace lumetrove::recognition
