#pragma once

// The engines that read the blocks of an image, kept between recognitions, and the queue of blocks that the
// reading threads share.

#include "lumetrove/platform/TextRecognitionBlocks.h"
#include "lumetrove/platform/TextRecognitionLines.h"
#include "lumetrove/platform/TextRecognitionPreparation.h"

#include <QRect>
#include <QString>
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QThreadPool;

namespace tesseract {
class TessBaseAPI;
class ETEXT_DESC;
} // namespace tesseract

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

/// The readings of a block besides its prepared one, each of the block nearly as it stands (see `plainBlock`):
/// as it stands, rescaled (see `rescaledBlock`), and with the engine's own analysis of its layout.
enum class OtherReading { asItStands, rescaled, ownLayout };
constexpr size_t otherReadingKinds = 3;

/// What the threads of one recognition share of a block that one of them reads: the other readings of it that
/// a thread with no block left may make before the block's own thread knows whether it wants them. A long
/// block in doubt is read three or four times one after another, while the other threads have run out of
/// blocks; whichever thread makes a reading, it reads the same.
struct OtherReadings {
    enum class State { open, reading, read, unwanted };
    /// The block prepared, once its thread has prepared it: what the other readings read follows from it.
    std::optional<BlockImage> prepared;
    /// Whether the block's thread wants no more readings of it: it found no text, or it has agreed on its lines.
    bool finished = false;
    /// Whether the block's thread is through with it: it shares no more work (see `SharedWork`).
    bool over = false;
    std::array<State, otherReadingKinds> states{};
    std::array<std::vector<ReadLine>, otherReadingKinds> lines;
};

/// Work of a block's thread made of parts that need one another's results no more than their order: any
/// thread with no block left may do some of them (see `BlockQueue::share`).
struct SharedWork {
    std::function<void(size_t part, const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor)> part;
    size_t parts = 0;
    size_t next = 0; // the first part no thread has begun
    size_t done = 0;
};

/// Work for a thread that has no block left: a part of a block's shared work, or an other reading of the block
/// `index`, prepared as `prepared`.
struct Errand {
    SharedWork* work = nullptr;
    size_t part = 0;
    size_t index = 0;
    OtherReading kind = OtherReading::asItStands;
    BlockImage prepared;
};

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

    /// Per block, guarded by `mutex`; `changed` tells of every change.
    std::vector<OtherReadings> others;
    std::vector<SharedWork*> shared; // with parts no thread has begun
    std::mutex mutex;
    std::condition_variable changed;

    bool wantsToGiveUp()
    {
        if (!givenUp && (processIsEnding() || (cancelled && *cancelled && (*cancelled)()))) {
            givenUp = true;
        }
        return givenUp;
    }

    /// The block `index` is prepared as `prepared`, or holds no text: its other readings may begin.
    void prepared(size_t index, const std::optional<BlockImage>& prepared);
    /// The reading `kind` of the block `index` for the block's own thread: as another thread read it, once it
    /// has; read by `read` where no thread has begun it.
    std::vector<ReadLine> otherReading(size_t index, OtherReading kind,
                                       const std::function<std::vector<ReadLine>()>& read);
    /// The block `index` wants no more readings: those under way may give up, and what they read is dropped.
    void finished(size_t index);
    /// The block `index`'s thread is through with it.
    void over(size_t index);
    /// Does every part of `work` with `engine`, the calling thread's, but for those that threads with no block left
    /// take meanwhile (see `takeErrand`); returns once all are done. Rethrows the first failure of a part of its own.
    void share(SharedWork& work, const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor);
    /// For a thread that has no block left to take: a part of shared work, or else an other reading of a block
    /// under way that no thread has begun, the longest blocks' first, the readings as they stand before the others.
    /// Waits while a block is under way; nothing once every block is over.
    std::optional<Errand> takeErrand();
    /// A part of shared work that `takeErrand` gave is done.
    void partDone(SharedWork& work);
    /// Keeps `lines`, the reading `kind` of the block `index` that `takeErrand` gave, unless it is unwanted.
    void keepOtherReading(size_t index, OtherReading kind, std::vector<ReadLine> lines);
    /// Whether the reading `kind` of the block `index` is no longer wanted, or the recognition is given up.
    bool otherReadingUnwanted(size_t index, OtherReading kind);
};

} // namespace lumetrove::recognition
