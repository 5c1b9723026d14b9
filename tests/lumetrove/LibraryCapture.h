#pragma once

#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/captureui/ScreenCaptureOverlays.h"
#include "lumetrove/library/ScreenshotsListManager.h"

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <memory>

namespace lumetrove::testing {

/// An area capture of the shared engine whose screenshots go into a library, as the desktop tests watch it
/// while they drag over its overlays.
class LibraryCapture {
public:
    /// Starts the capture; `inspect` sees each screenshot before `library` adds it.
    explicit LibraryCapture(ScreenshotsListManager& library,
                            std::function<void(const CapturedScreenshotInfo&)> inspect = {})
    {
        // The completion may come after a failed test has gone on: it only touches what it shares.
        std::shared_ptr<State> state = state_;
        ScreenCaptureOverlays::installIn(ScreenshotCapture::shared());
        ScreenshotCapture::shared().startAreaCapture(
            false, [state, &library, inspect](const std::optional<QList<CapturedScreenshotInfo>>& results,
                                              CaptureResult result) {
                state->outcome = result;
                for (const CapturedScreenshotInfo& info : results.value_or(QList<CapturedScreenshotInfo>{})) {
                    if (inspect) {
                        inspect(info);
                    }
                    library.addScreenshot(info, false);
                }
                // The list is made on the thread pool: the capture is done once the list holds what it added.
                library.whenListed([state] { state->finished = true; });
                return CaptureFollowUp::showMainWindow;
            });
    }

    /// Whether the capture shows an exposed overlay on every screen.
    static bool overlaysShown()
    {
        const QList<QPointer<QWidget>>& overlays = windows();
        return overlays.size() == QGuiApplication::screens().size() &&
               std::all_of(overlays.begin(), overlays.end(), [](const QPointer<QWidget>& overlay) {
                   return overlay && overlay->windowHandle() && overlay->windowHandle()->isExposed();
               });
    }

    /// The overlay windows of the shared engine's capture under way.
    static const QList<QPointer<QWidget>>& windows()
    {
        return ScreenCaptureOverlays::installIn(ScreenshotCapture::shared()).windows();
    }

    /// Whether the capture ended and the library lists what it added.
    bool finished() const { return state_->finished; }
    /// How the capture ended, once it has.
    CaptureResult outcome() const { return state_->outcome; }

private:
    struct State {
        bool finished = false;
        CaptureResult outcome = CaptureResult::cancelled;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace lumetrove::testing
