#pragma once

#include <QRectF>
#include <QString>
#include <optional>

namespace lumetrove {

/// The application window under a captured area, and the assistant question asked about it.
struct WindowDetails {
    /// The window's frame with its decorations, in Qt's global logical coordinates (origin at the top-left of
    /// the virtual desktop, y down), the coordinates of the overlay's mouse positions.
    std::optional<QRectF> frame;
    /// The owning application's name as the window list reports it.
    std::optional<QString> applicationName;
    /// The owning process id.
    std::optional<qint32> applicationOwnerPID;
    /// The assistant question chosen in the prompt panel; none when built from the window list.
    std::optional<QString> aiAssistantTask;

    friend bool operator==(const WindowDetails&, const WindowDetails&) = default;
};

} // namespace lumetrove
