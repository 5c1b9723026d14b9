#pragma once

namespace lumetrove {

/// How a capture ended; handed with its results to the capture's completion handler.
enum class CaptureResult { success = 0, cancelled = 1 };

/// What the main window does after a capture, as the completion handler answers once it has taken the
/// records: the shell knows whether it kept anything.
enum class CaptureFollowUp {
    /// A screenshot was stored: the main window comes forward to show it.
    showMainWindow,
    /// Nothing was kept (the text was copied or searched for at once): the user goes back to where they
    /// were, the main window shown only if it was shown when the capture began.
    returnToPreviousWindow,
};

} // namespace lumetrove
