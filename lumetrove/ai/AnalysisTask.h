#pragma once

#include <atomic>

namespace lumetrove {

/// The handle of one running analysis, which its caller may cancel. Cancelling does not stop the request in
/// flight: its answer is dropped and the cancellation reported instead. Any thread.
class AnalysisTask {
public:
    void cancel() { cancelled_ = true; }
    bool isCancelled() const { return cancelled_; }

private:
    std::atomic<bool> cancelled_ = false;
};

} // namespace lumetrove
