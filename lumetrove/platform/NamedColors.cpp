#include "lumetrove/platform/NamedColors.h"

#include <QEvent>
#include <QGuiApplication>
#include <algorithm>
#include <array>
#include <cmath>

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

/// The relative luminance of an opaque colour (0 black, 1 white), as contrast between colours is judged.
qreal luminance(const QColor& color)
{
    const auto linear = [](qreal channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

/// The application palette with each group's placeholder colour readable; false when it already was.
bool makePlaceholdersReadable(QPalette& palette)
{
    bool changed = false;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor readable = readablePlaceholderColor(palette, group);
        if (readable != palette.color(group, QPalette::PlaceholderText)) {
            palette.setColor(group, QPalette::PlaceholderText, readable);
            changed = true;
        }
    }
    return changed;
}

/// Gives the application's palette readable placeholders where its theme's are too faint.
void mendApplicationPalette()
{
    QPalette palette = QGuiApplication::palette();
    if (makePlaceholdersReadable(palette)) {
        QGuiApplication::setPalette(palette);
    }
}

/// Sees the application's palette change (a new desktop theme) and mends its placeholders again; a palette it
/// mended itself needs nothing, so this ends there.
class PlaceholderKeeper : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ApplicationPaletteChange && watched == qGuiApp) {
            mendApplicationPalette();
        }
        return false;
    }
};

} // namespace

QColor readablePlaceholderColor(const QPalette& palette, QPalette::ColorGroup group)
{
    const QColor background = palette.color(group, QPalette::Base);
    const QColor placeholder = palette.color(group, QPalette::PlaceholderText);
    const qreal alpha = placeholder.alphaF();
    const QColor painted = QColor::fromRgbF(placeholder.redF() * alpha + background.redF() * (1 - alpha),
                                            placeholder.greenF() * alpha + background.greenF() * (1 - alpha),
                                            placeholder.blueF() * alpha + background.blueF() * (1 - alpha));
    const qreal lighter = std::max(luminance(painted), luminance(background));
    const qreal darker = std::min(luminance(painted), luminance(background));
    if ((lighter + 0.05) / (darker + 0.05) >= 3.0) {
        return placeholder;
    }
    QColor faded = palette.color(group, QPalette::Text);
    faded.setAlphaF(0.6f);
    return faded;
}

void keepPlaceholdersReadable()
{
    static PlaceholderKeeper* keeper = nullptr;
    if (keeper == nullptr && qGuiApp != nullptr) {
        keeper = new PlaceholderKeeper(qGuiApp);
        qGuiApp->installEventFilter(keeper);
    }
    mendApplicationPalette();
}

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
