#include "lumetrove/platform/NamedColors.h"
#include "lumetrove/platform/Symbols.h"

#include <QIcon>
#include <QPalette>
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

} // namespace
