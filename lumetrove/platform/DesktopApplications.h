#pragma once

#include <QIcon>
#include <QString>
#include <optional>

namespace lumetrove {

// Linux stand-in for the workspace's "running application" and "application icon" services. An
// application is named by its desktop-entry id ("org.gnome.Nautilus", "firefox"): the name of its
// .desktop file without the extension.

/// The desktop-entry id of the running process with this id: the entry it was launched from when the
/// launcher recorded one, else the entry named after its executable or whose Exec line names it. None when
/// no process with that id runs or no entry is known for it. Any thread.
std::optional<QString> desktopEntryIdOfProcess(qint64 pid);

/// The icon of the application with this desktop-entry id, from its entry's Icon key or the icon theme;
/// none when no such application or icon is known. Main thread (icon themes are not thread-safe).
std::optional<QIcon> applicationIcon(const QString& desktopEntryId);

} // namespace lumetrove
