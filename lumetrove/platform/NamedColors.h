#pragma once

#include <QColor>
#include <QPalette>
#include <QStringList>
#include <QStringView>

namespace lumetrove {

// The application's named colours, each with a light and a dark value: "ListBackgroundColor",
// "ListDragHighlightColor", "ScreenshotItemSelectedColor", "ScreenshotItemThumbnailBorderColor",
// "ScreenshotItemNameColor", "ScreenshotItemDateColor", "ScreenshotItemDescriptionColor",
// "DetailViewNameColor" and "ScreenshotDetailTextEditorForegroundColor". The palette decides which value
// applies, so a view that paints with its own palette follows the desktop's light or dark theme.

/// True when the palette is a dark one: its window colour is darker than mid grey.
bool isDarkPalette(const QPalette& palette);

/// The named colour for the palette's appearance; an invalid colour for a name not in the table.
QColor namedColor(QStringView name, const QPalette& palette);

/// The named colour for the application's palette. Main thread.
QColor namedColor(QStringView name);

/// Every colour name the table knows.
QStringList knownColorNames();

/// The colour for faint secondary text (a placeholder) in `group` of `palette`: the palette's placeholder
/// colour where it stands out from the text background enough to be read (3:1), else the text colour faded.
/// Some desktop themes keep a light palette's dark placeholder colour in a dark palette, dark on dark.
QColor readablePlaceholderColor(const QPalette& palette, QPalette::ColorGroup group = QPalette::Active);

/// Gives the application's palette readable placeholder colours (`readablePlaceholderColor`), now and
/// whenever the palette changes. Main thread.
void keepPlaceholdersReadable();

} // namespace lumetrove
