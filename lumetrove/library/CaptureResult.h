#pragma once

namespace lumetrove {

/// How a capture ended; handed with its results to the capture's completion handler.
enum class CaptureResult { success = 0, cancelled = 1 };

} // namespace lumetrove
