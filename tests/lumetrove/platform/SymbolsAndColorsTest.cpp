#include "lumetrove/platform/NamedColors.h"
#include "lumetrove/platform/Symbols.h"

#include <QApplication>
#include <QIcon>
#include <QLineEdit>
#include <QPalette>
#include <QScopeGuard>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using namespace lumetrove;

/// A theme that does not exist, so every symbol must come from the bundled images.
class NoIconThemeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedTheme_ = QIcon::themeName();
        savedFallback_ = QIcon::fallbackThemeName();
        QIcon::setThemeName(QStringLiteral("lumetrove-no-such-theme"));
        QIcon::setFallbackThemeName(QStringLiteral("lumetrove-no-such-theme"));
    }
    void TearDown() override
    {
        QIcon::setThemeName(savedTheme_);
        QIcon::setFallbackThemeName(savedFallback_);
    }

private:
    QString savedTheme_, savedFallback_;
};

TEST_F(NoIconThemeTest, EverySymbolFallsBackToItsBundledImage)
{
    const QStringList names = knownSymbolNames();
    for (const char* required : {"star", "clock", "folder", "gearshape", "plus.circle", "trash"}) {
        EXPECT_TRUE(names.contains(QLatin1String(required))) << required;
    }
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QIcon icon = symbolIcon(name);
        ASSERT_FALSE(icon.isNull());
        const QImage small = icon.pixmap(QSize(32, 32)).toImage();
        ASSERT_FALSE(small.isNull());
        // The bundled image has visible strokes, not just a transparent square.
        bool anyOpaque = false;
        for (int y = 0; y < small.height() && !anyOpaque; ++y) {
            for (int x = 0; x < small.width() && !anyOpaque; ++x) {
                anyOpaque = qAlpha(small.pixel(x, y)) > 128;
            }
        }
        EXPECT_TRUE(anyOpaque);
    }
}

TEST(SymbolsTest, UnknownSymbolIsNull)
{
    EXPECT_TRUE(symbolIcon(QStringLiteral("no.such.symbol")).isNull());
}

TEST(NamedColorsTest, LightAndDarkPalettesGiveDifferentReadableColours)
{
    const QPalette light(Qt::black, QColor(240, 240, 240));
    const QPalette dark(Qt::white, QColor(40, 40, 40));
    ASSERT_FALSE(isDarkPalette(light));
    ASSERT_TRUE(isDarkPalette(dark));
    for (const QString& name : knownColorNames()) {
        SCOPED_TRACE(name.toStdString());
        const QColor onLight = namedColor(name, light);
        const QColor onDark = namedColor(name, dark);
        ASSERT_TRUE(onLight.isValid());
        ASSERT_TRUE(onDark.isValid());
        EXPECT_NE(onLight, onDark);
    }
    // Text colours stand out from their background in both appearances.
    EXPECT_LT(namedColor(u"ScreenshotItemNameColor", light).lightness(), 100);
    EXPECT_GT(namedColor(u"ScreenshotItemNameColor", dark).lightness(), 150);
    EXPECT_FALSE(namedColor(u"NoSuchColor", light).isValid());
}

/// The contrast (1 to 21) of `ink`, painted with its alpha over the opaque `background`, against it.
double contrastOn(const QColor& ink, const QColor& background)
{
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
    };
    const double a = ink.alphaF();
    const QColor painted =
        QColor::fromRgbF(ink.redF() * a + background.redF() * (1 - a), ink.greenF() * a + background.greenF() * (1 - a),
                         ink.blueF() * a + background.blueF() * (1 - a));
    const double one = luminance(painted);
    const double other = luminance(background);
    return (std::max(one, other) + 0.05) / (std::min(one, other) + 0.05);
}

TEST(NamedColorsTest, PlaceholdersStayReadableWhenTheDesktopThemeGivesThemNoContrast)
{
    const QPalette before = QGuiApplication::palette();
    const auto restore = qScopeGuard([&] { QGuiApplication::setPalette(before); });
    // A dark theme that kept a light theme's dark placeholder colour.
    QPalette dark(QColor(0xe6, 0xe6, 0xe6), QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::PlaceholderText, QColor(0x23, 0x26, 0x29, 0x80));
    QGuiApplication::setPalette(dark);
    keepPlaceholdersReadable();
    QLineEdit field;
    EXPECT_GE(contrastOn(field.palette().color(QPalette::PlaceholderText), field.palette().color(QPalette::Base)), 3.0);

    // A light theme whose placeholder reads well keeps it; a later dark one is mended as it comes.
    QPalette light(Qt::black, QColor(0xf0, 0xf0, 0xf0));
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::PlaceholderText, QColor(0x70, 0x70, 0x70));
    QGuiApplication::setPalette(light);
    QApplication::processEvents(); // widgets take the application's palette from posted events
    EXPECT_EQ(field.palette().color(QPalette::PlaceholderText), QColor(0x70, 0x70, 0x70));
    QGuiApplication::setPalette(dark);
    QApplication::processEvents();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        EXPECT_GE(contrastOn(field.palette().color(group, QPalette::PlaceholderText),
                             field.palette().color(group, QPalette::Base)),
                  3.0)
            << group;
    }
}

} // namespace
