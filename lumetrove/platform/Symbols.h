#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

namespace lumetrove {

// The views name their symbols by the names the design uses ("star", "clock", "folder", "gearshape",
// "plus.circle", "trash", "brain.head.profile", "checkmark", "doc.on.clipboard", and the image "AIScan" of the
// assistant panel's button). On Linux each name maps to a freedesktop icon-theme name; where the theme has no
// such icon a small image bundled as a Qt resource (":/symbols/<name>.png") stands in, so a symbol never comes
// out blank.

/// The icon for a symbol name: the theme's icon when it has one, else the bundled image. A null icon for a
/// name that is not in the table. Main thread (icon themes are not thread-safe).
QIcon symbolIcon(const QString& symbolName);

/// Every symbol name the table knows, each with a bundled image.
QStringList knownSymbolNames();

} // namespace lumetrove
