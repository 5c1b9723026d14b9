#include "lumetrove/platform/NamedColors.h"

#include <QGuiApplication>
#include <array>

namespace lumetrove {

namespace {

struct ColorEntry {
    const char* name;
    QRgb light;
    QRgb dark;
};

constexpr std::array colorTable{
    ColorEntry{"ListBackgroundColor", qRgb(0xff, 0xff, 0xff), qRgb(0x1e, 0x1e, 0x1e)},
    ColorEntry{"ListDragHighlightColor", qRgb(0x3a, 0x7b, 0xd5), qRgb(0x2f, 0x6f, 0xd0)},
    ColorEntry{"ScreenshotItemSelectedColor", qRgb(0xdc, 0xe8, 0xfa), qRgb(0x2b, 0x3a, 0x52)},
    ColorEntry{"ScreenshotItemThumbnailBorderColor", qRgb(0xd0, 0xd0, 0xd0), qRgb(0x4a, 0x4a, 0x4a)},
    ColorEntry{"ScreenshotItemNameColor", qRgb(0x1d, 0x1d, 0x1f), qRgb(0xf2, 0xf2, 0xf2)},
    ColorEntry{"ScreenshotItemDateColor", qRgb(0x6e, 0x6e, 0x73), qRgb(0xa1, 0xa1, 0xa6)},
    ColorEntry{"ScreenshotItemDescriptionColor", qRgb(0x3c, 0x3c, 0x43), qRgb(0xc7, 0xc7, 0xcc)},
    ColorEntry{"DetailViewNameColor", qRgb(0x1d, 0x1d, 0x1f), qRgb(0xf2, 0xf2, 0xf2)},
    ColorEntry{"ScreenshotDetailTextEditorForegroundColor", qRgb(0x1d, 0x1d, 0x1f), qRgb(0xe5, 0xe5, 0xea)},
};

} // namespace

bool isDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor namedColor(QStringView name, const QPalette& palette)
{
    for (const ColorEntry& entry : colorTable) {
        if (name == QLatin1String(entry.name)) {
            return QColor::fromRgb(isDarkPalette(palette) ? entry.dark : entry.light);
        }
    }
    return {};
}

QColor namedColor(QStringView name)
{
    return namedColor(name, QGuiApplication::palette());
}

QStringList knownColorNames()
{
    QStringList names;
    names.reserve(static_cast<qsizetype>(colorTable.size()));
    for (const ColorEntry& entry : colorTable) {
        names.append(QLatin1String(entry.name));
    }
    return names;
}

} // namespace lumetrove
