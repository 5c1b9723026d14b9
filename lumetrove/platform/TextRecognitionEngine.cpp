#include "lumetrove/platform/TextRecognitionEngine.h"

#include "lumetrove/platform/Memory.h"

#include <QThreadPool>
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <omp.h>
#include <tesseract/baseapi.h>

namespace lumetrove::recognition {

namespace {

constexpr int maximumParallelReads = 6;

/// Set as the process ends: the readings still under way give up (see `endReadingsAtExit`).
std::atomic<bool> processEnding{false};

void endReadingsAtExit();

Engine makeEngine()
{
    Engine made(new tesseract::TessBaseAPI);
    if (made->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
        throw TextRecognitionError("Tesseract could not load its English language data");
    }
    // Registered once the engine's library has made its shared dictionaries, so that it runs before they are
    // destroyed with the process's other globals.
    static const bool endsReadings = std::atexit(endReadingsAtExit) == 0;
    (void)endsReadings;
    // Interface text comes in short lines and single words; the block is read as one column of lines.
    made->SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
    made->SetVariable("debug_file", "/dev/null");
    // Every block comes dark on light: a second reading of each doubtful line inverted only costs time.
    made->SetVariable("tessedit_do_invert", "0");
    return made;
}

/// Engines between recognitions. Loading the model costs a tenth of a second, so engines are kept for the
/// next read while they are wanted kept; each holds tens of megabytes, which a program idle in the tray
/// gives back.
class EnginePool {
public:
    static EnginePool& shared()
    {
        static EnginePool* pool = [] {
            auto* made = new EnginePool;
            onTextRecognitionKeepingChanged([made](bool kept) {
                if (!kept) {
                    made->endIdle();
                }
            });
            return made;
        }();
        return *pool;
    }

    Engine take()
    {
        {
            const std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                Engine engine = std::move(idle_.back());
                idle_.pop_back();
                return engine;
            }
            ++engines_; // before it is made: the shared dictionaries are not cleared under it
        }
        try {
            return makeEngine();
        } catch (...) {
            const std::lock_guard lock(mutex_);
            --engines_;
            throw;
        }
    }

    /// Idle from now on; ended at once when engines are not kept. Asked after the engine is idle, so that a
    /// change of the keeping meanwhile, which ends the idle ones, cannot miss it.
    void giveBack(Engine engine)
    {
        {
            const std::lock_guard lock(mutex_);
            idle_.push_back(std::move(engine));
        }
        if (!textRecognitionEnginesKept()) {
            endIdle();
        }
    }

    /// Ends the idle engines; once none is left, the dictionaries that Tesseract keeps for the process
    /// across engines go too, and the memory goes back to the system.
    void endIdle()
    {
        std::vector<Engine> ended;
        {
            const std::lock_guard lock(mutex_);
            ended.swap(idle_);
        }
        if (ended.empty()) {
            return;
        }
        const auto count = static_cast<qsizetype>(ended.size());
        ended.clear();
        {
            const std::lock_guard lock(mutex_);
            engines_ -= count;
            if (engines_ == 0) {
                tesseract::TessBaseAPI::ClearPersistentCache();
            }
        }
        returnFreedMemoryToSystem();
    }

private:
    std::mutex mutex_;
    std::vector<Engine> idle_;
    /// Engines in being: idle, reading or being made.
    qsizetype engines_ = 0;
};

/// As the process ends while readings are under way on other threads: they give up and are waited for, as the
/// engine's shared dictionaries, globals of its library, are destroyed right after.
void endReadingsAtExit()
{
    processEnding = true;
    readingThreads().waitForDone();
}

} // namespace

/// Tesseract parallelises tiny steps with OpenMP, whose spinning workers only slow it down beside the blocks
/// read in parallel here, and far more so on a busy machine (its documentation says to limit it to one
/// thread). The limits are kept per thread, so every thread that reads sets them before its first read:
/// OMP_THREAD_LIMIT is read only when the process starts.
void limitOpenMPInThisThread()
{
    thread_local const bool limited = [] {
        omp_set_dynamic(0);
        omp_set_num_threads(1);
        omp_set_max_active_levels(0);
        return true;
    }();
    (void)limited;
}

void EngineDeleter::operator()(tesseract::TessBaseAPI* engine) const
{
    engine->End();
    delete engine;
}

BorrowedEngine::BorrowedEngine() : engine_(EnginePool::shared().take())
{}

BorrowedEngine::~BorrowedEngine()
{
    engine_->Clear();
    EnginePool::shared().giveBack(std::move(engine_));
}

QString takeText(char* text)
{
    const std::unique_ptr<char[]> owned(text);
    return owned ? QString::fromUtf8(owned.get()).trimmed() : QString();
}

QThreadPool& readingThreads()
{
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, maximumParallelReads));
        return made;
    }();
    return *pool;
}

bool processIsEnding()
{
    return processEnding;
}

void BlockQueue::prepared(size_t index, const std::optional<BlockImage>& prepared)
{
    {
        const std::lock_guard lock(mutex);
        others[index].prepared = prepared;
        others[index].finished = !prepared;
    }
    changed.notify_all();
}

std::vector<ReadLine> BlockQueue::otherReading(size_t index, OtherReading kind,
                                               const std::function<std::vector<ReadLine>()>& read)
{
    const auto slot = static_cast<size_t>(kind);
    std::unique_lock lock(mutex);
    OtherReadings& block = others[index];
    changed.wait(lock, [&] { return block.states[slot] != OtherReadings::State::reading; });
    if (block.states[slot] == OtherReadings::State::read) {
        return std::move(block.lines[slot]);
    }
    block.states[slot] = OtherReadings::State::reading; // no other thread begins it now
    lock.unlock();
    return read();
}

void BlockQueue::finished(size_t index)
{
    {
        const std::lock_guard lock(mutex);
        OtherReadings& block = others[index];
        block.finished = true;
        block.prepared.reset();
        for (size_t slot = 0; slot < otherReadingKinds; ++slot) {
            block.states[slot] = OtherReadings::State::unwanted;
            block.lines[slot].clear();
        }
    }
    changed.notify_all();
}

void BlockQueue::over(size_t index)
{
    {
        const std::lock_guard lock(mutex);
        others[index].over = true;
    }
    changed.notify_all();
}

void BlockQueue::share(SharedWork& work, const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor)
{
    std::unique_lock lock(mutex);
    shared.push_back(&work);
    changed.notify_all();
    std::exception_ptr failure;
    while (work.next < work.parts) {
        const size_t part = work.next++;
        lock.unlock();
        try {
            work.part(part, engine, monitor);
        } catch (...) {
            failure = failure ? failure : std::current_exception();
        }
        lock.lock();
        ++work.done;
    }
    shared.erase(std::find(shared.begin(), shared.end(), &work));
    // The parts that other threads do use what the caller holds: it waits for them whatever happened.
    changed.wait(lock, [&work] { return work.done == work.parts; });
    if (failure) {
        std::rethrow_exception(failure);
    }
}

std::optional<Errand> BlockQueue::takeErrand()
{
    std::unique_lock lock(mutex);
    const size_t taken = std::min<size_t>(next, order.size());
    for (;;) {
        if (wantsToGiveUp()) {
            return std::nullopt;
        }
        for (SharedWork* work : shared) {
            if (work->next < work->parts) {
                Errand part;
                part.work = work;
                part.part = work->next++;
                return part;
            }
        }
        bool underWay = false;
        for (size_t slot = 0; slot < otherReadingKinds; ++slot) {
            for (size_t position = 0; position < taken; ++position) {
                OtherReadings& block = others[order[position]];
                underWay = underWay || !block.over;
                if (block.prepared && block.states[slot] == OtherReadings::State::open) {
                    block.states[slot] = OtherReadings::State::reading;
                    return Errand{nullptr, 0, order[position], static_cast<OtherReading>(slot), *block.prepared};
                }
            }
        }
        if (!underWay) {
            return std::nullopt;
        }
        changed.wait(lock);
    }
}

void BlockQueue::partDone(SharedWork& work)
{
    {
        const std::lock_guard lock(mutex);
        ++work.done;
    }
    changed.notify_all();
}

void BlockQueue::keepOtherReading(size_t index, OtherReading kind, std::vector<ReadLine> lines)
{
    const auto slot = static_cast<size_t>(kind);
    {
        const std::lock_guard lock(mutex);
        OtherReadings& block = others[index];
        if (block.states[slot] != OtherReadings::State::reading) {
            return;
        }
        block.states[slot] = OtherReadings::State::read;
        block.lines[slot] = std::move(lines);
    }
    changed.notify_all();
}

bool BlockQueue::otherReadingUnwanted(size_t index, OtherReading kind)
{
    {
        const std::lock_guard lock(mutex);
        if (others[index].states[static_cast<size_t>(kind)] == OtherReadings::State::unwanted) {
            return true;
        }
    }
    return wantsToGiveUp();
}

} // namespace lumetrove::recognition
