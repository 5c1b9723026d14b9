#pragma once

#include "lumetrove/platform/TextRecognizer.h"

#include <condition_variable>
#include <mutex>

namespace lumetrove::testing {

/// Reads "invoice <width>" from an image, but only once it is let go, so that a test sees what happens while
/// recognition runs (and what waits for it).
class HeldRecognizer : public TextRecognizer {
public:
    RecognizedText recognize(const QImage& image) const override
    {
        std::unique_lock lock(mutex_);
        letGo_.wait(lock, [&] { return open_; });
        RecognizedText text;
        text.lines.push_back(RecognizedLine{QStringLiteral("invoice %1").arg(image.width()), {}, {}});
        return text;
    }
    void letGo()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        letGo_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable letGo_;
    bool open_ = false;
};

} // namespace lumetrove::testing
