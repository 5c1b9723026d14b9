#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

namespace aiclient {

/// The asynchronous form of a streamed operation: chunks arrive on the transport's thread and wait, without
/// limit, until the consumer reads them with `next`. The stream ends at the first error (after the chunks
/// buffered before it) or when the transfer ends. Dropping the stream does not stop the transfer; its later
/// chunks are dropped.
template <class Chunk> class ChunkStream {
public:
    /// The producing side, held by the operation's callbacks. Safe to call from any thread.
    class Continuation {
    public:
        /// Buffers a chunk; ignored once the stream has finished.
        void yield(Chunk chunk)
        {
            std::lock_guard lock(mutex_);
            if (!finished_) {
                buffer_.push_back(std::move(chunk));
                ready_.notify_all();
            }
        }
        /// Ends the stream, with `error` (rethrown by `next` after the buffered chunks) or normally when null.
        /// Only the first call counts.
        void finish(std::exception_ptr error = nullptr)
        {
            std::lock_guard lock(mutex_);
            if (!finished_) {
                finished_ = true;
                error_ = std::move(error);
                ready_.notify_all();
            }
        }

    private:
        friend class ChunkStream;
        std::mutex mutex_;
        std::condition_variable ready_;
        std::deque<Chunk> buffer_;
        bool finished_ = false;
        std::exception_ptr error_;
    };

    ChunkStream() : state_(std::make_shared<Continuation>()) {}

    std::shared_ptr<Continuation> continuation() const { return state_; }

    /// Waits for the next chunk. Returns none when the stream has ended normally; throws the error that ended
    /// it once every chunk buffered before the error has been read.
    std::optional<Chunk> next()
    {
        std::unique_lock lock(state_->mutex_);
        state_->ready_.wait(lock, [&] { return !state_->buffer_.empty() || state_->finished_; });
        if (!state_->buffer_.empty()) {
            Chunk chunk = std::move(state_->buffer_.front());
            state_->buffer_.pop_front();
            return chunk;
        }
        if (state_->error_) {
            std::rethrow_exception(state_->error_);
        }
        return std::nullopt;
    }

private:
    std::shared_ptr<Continuation> state_;
};

} // namespace aiclient
