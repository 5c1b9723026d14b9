#include "lumetrove/platform/TextRecognitionLevels.h"

#include <QColor>
#include <QHash>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace lumetrove::recognition {

namespace {

/// Sum of the grey-level steps between horizontal neighbours over every other row: how much contrast an
/// image shows.
qint64 contrastEnergy(const QImage& gray)
{
    qint64 energy = 0;
    for (int y = 0; y < gray.height(); y += 2) {
        const uchar* row = gray.constScanLine(y);
        for (int x = 1; x < gray.width(); ++x) {
            energy += std::abs(row[x] - row[x - 1]);
        }
    }
    return energy;
}

/// The image as opaque grey levels, in its own pixels whatever its device pixel ratio. Translucent pixels
/// are laid over white or black, whichever shows more contrast: light text on a transparent ground vanishes
/// over white, dark text over black, and a half-transparent dark panel with white labels reads best over black.
} // namespace

QImage opaqueGray(const QImage& image)
{
    if (!image.hasAlphaChannel()) {
        QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
        gray.setDevicePixelRatio(1);
        return gray;
    }
    const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage overWhite(premultiplied.size(), QImage::Format_Grayscale8);
    QImage overBlack(premultiplied.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < premultiplied.height(); ++y) {
        const auto* pixels = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        uchar* white = overWhite.scanLine(y);
        uchar* black = overBlack.scanLine(y);
        for (int x = 0; x < premultiplied.width(); ++x) {
            // Premultiplied colour is the pixel over black; over white the ground adds what alpha leaves.
            const int gray = qGray(pixels[x]);
            black[x] = static_cast<uchar>(gray);
            white[x] = static_cast<uchar>(std::min(255, gray + 255 - qAlpha(pixels[x])));
        }
    }
    return contrastEnergy(overBlack) > contrastEnergy(overWhite) ? overBlack : overWhite;
}

QImage withMargin(const QImage& image, int margin)
{
    const bool gray = image.format() == QImage::Format_Grayscale8;
    const auto at = [&](int x, int y) {
        return gray ? QRgb(image.constScanLine(y)[x]) : reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
    };
    QHash<QRgb, int> counts;
    for (int x = 0; x < image.width(); ++x) {
        ++counts[at(x, 0)];
        ++counts[at(x, image.height() - 1)];
    }
    for (int y = 0; y < image.height(); ++y) {
        ++counts[at(0, y)];
        ++counts[at(image.width() - 1, y)];
    }
    QRgb edge = 0;
    int most = 0;
    for (auto count = counts.cbegin(); count != counts.cend(); ++count) {
        if (count.value() > most || (count.value() == most && count.key() < edge)) {
            most = count.value();
            edge = count.key();
        }
    }
    QImage framed(image.size() + QSize(2 * margin, 2 * margin), image.format());
    if (gray) {
        framed.fill(static_cast<uint>(edge));
    } else {
        framed.fill(QColor::fromRgb(edge));
    }
    const qsizetype rowBytes = gray ? image.width() : image.width() * 4;
    for (int y = 0; y < image.height(); ++y) {
        std::copy_n(image.constScanLine(y), rowBytes, framed.scanLine(y + margin) + (gray ? margin : margin * 4));
    }
    return framed;
}

/// How many pixels of `area` have each grey level.
std::array<int, 256> histogramOf(const QImage& gray, const QRect& area)
{
    std::array<int, 256> histogram{};
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uchar* row = gray.constScanLine(y);
        for (int x = area.left(); x <= area.right(); ++x) {
            ++histogram[row[x]];
        }
    }
    return histogram;
}

/// The ground of a histogram: its most common level within the most common band of nearby levels. A shaded
/// ground (the gradient of a push button) spreads over many levels, each rarer than the black of a bold
/// label's strokes, but together it is the most common.
int groundOf(const std::array<int, 256>& histogram)
{
    constexpr int band = 8;
    int bestCentre = 0;
    qint64 bestCount = -1, count = 0;
    for (int level = 0; level < 256 + band; ++level) {
        count += level < 256 ? histogram[static_cast<size_t>(level)] : 0;
        if (level - 2 * band - 1 >= 0) {
            count -= histogram[static_cast<size_t>(level - 2 * band - 1)];
        }
        if (level - band >= 0 && count > bestCount) {
            bestCount = count;
            bestCentre = level - band;
        }
    }
    const auto first = histogram.begin() + std::max(0, bestCentre - band);
    const auto last = histogram.begin() + std::min(255, bestCentre + band) + 1;
    return static_cast<int>(std::max_element(first, last) - histogram.begin());
}

/// The ground of `area`: the background of the text in it.
int backgroundLevel(const QImage& gray, const QRect& area)
{
    return groundOf(histogramOf(gray, area));
}

bool showsGround(const QImage& gray, const QRect& area, int ground)
{
    if (area.isEmpty()) {
        return true;
    }
    if (std::abs(backgroundLevel(gray, area) - ground) <= inkContrast) {
        return true;
    }
    // A ground of its own reaches from the area's border in between the letters; the page around a control
    // reaches no further than the corners of its fill.
    const int width = area.width();
    std::vector<quint8> reached(static_cast<size_t>(width) * static_cast<size_t>(area.height()), 0);
    std::vector<QPoint> pending;
    qint64 count = 0;
    const auto visit = [&](int x, int y) {
        if (!area.contains(x, y)) {
            return;
        }
        quint8& seen = reached[static_cast<size_t>(y - area.top()) * static_cast<size_t>(width) +
                               static_cast<size_t>(x - area.left())];
        if (seen == 0 && std::abs(gray.constScanLine(y)[x] - ground) <= inkContrast) {
            seen = 1;
            ++count;
            pending.emplace_back(x, y);
        }
    };
    floodFromBorder(area, pending, visit);
    return count * 5 >= static_cast<qint64>(width) * area.height();
}

/// The width of the widest patch of pixels near `level` in `area`, each patch a run of neighbours.
static int widestPatch(const QImage& gray, const QRect& area, int level)
{
    const int width = area.width();
    std::vector<quint8> seen(static_cast<size_t>(width) * static_cast<size_t>(area.height()), 0);
    const auto near = [&](int x, int y) {
        quint8& mark = seen[static_cast<size_t>(y - area.top()) * static_cast<size_t>(width) +
                            static_cast<size_t>(x - area.left())];
        if (mark != 0 || std::abs(gray.constScanLine(y)[x] - level) > inkContrast) {
            return false;
        }
        mark = 1;
        return true;
    };
    int widest = 0;
    std::vector<QPoint> pending;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (!near(x, y)) {
                continue;
            }
            int left = x, right = x;
            pending.emplace_back(x, y);
            while (!pending.empty()) {
                const QPoint point = pending.back();
                pending.pop_back();
                left = std::min(left, point.x());
                right = std::max(right, point.x());
                for (const QPoint step : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint next = point + step;
                    if (area.contains(next) && near(next.x(), next.y())) {
                        pending.push_back(next);
                    }
                }
            }
            widest = std::max(widest, right - left + 1);
        }
    }
    return widest;
}

int marginLevel(const QImage& gray, const QRect& padded)
{
    std::array<int, 256> ring{};
    for (int y = padded.top(); y <= padded.bottom(); ++y) {
        const uchar* row = gray.constScanLine(y);
        const int step = y == padded.top() || y == padded.bottom() ? 1 : std::max(1, padded.width() - 1);
        for (int x = padded.left(); x <= padded.right(); x += step) {
            ++ring[row[x]];
        }
    }
    return groundOf(ring);
}

std::vector<quint8> stippleOf(const QImage& gray)
{
    // A patch of six pixels square, or one four pixels wide and eight long: a strip of stipple that the edge of a
    // capture cuts may be four pixels wide, and twice as long it still holds no letter.
    constexpr int square = 6, across = 4, along = 8;
    const int width = gray.width();
    const int height = gray.height();
    std::vector<quint8> stipple;
    const auto at = [width](int x, int y) { return static_cast<size_t>(y) * static_cast<size_t>(width) + x; };
    const auto alike = [](int a, int b) { return std::abs(a - b) <= inkContrast; };
    // Whether the patch of `wide` x `high` pixels at (x, y) is the 2 x 2 cell at its corner repeated.
    const auto repeats = [&](int x, int y, int wide, int high) {
        for (int dy = 0; dy + 2 < high; ++dy) {
            const uchar* line = gray.constScanLine(y + dy);
            const uchar* twoDown = gray.constScanLine(y + dy + 2);
            for (int dx = 0; dx + 2 < wide; ++dx) {
                if (!alike(line[x + dx], line[x + dx + 2]) || !alike(line[x + dx], twoDown[x + dx])) {
                    return false;
                }
            }
        }
        return true;
    };
    const auto mark = [&](int x, int y, int wide, int high) {
        if (stipple.empty()) {
            stipple.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
        }
        for (int dy = 0; dy < high; ++dy) {
            std::fill_n(stipple.begin() + static_cast<std::ptrdiff_t>(at(x, y + dy)), wide, quint8(1));
        }
    };
    for (int y = 0; y + across <= height; ++y) {
        const uchar* row = gray.constScanLine(y);
        const uchar* below = gray.constScanLine(y + 1);
        for (int x = 0; x + across <= width; ++x) {
            // The patch is the 2 x 2 cell at (x, y) repeated: it varies both ways unless the cell's rows or its
            // columns are alike (a hatch of bars, or no pattern at all).
            const int a = row[x], b = row[x + 1], c = below[x], d = below[x + 1];
            if ((alike(a, b) && alike(c, d)) || (alike(a, c) && alike(b, d))) {
                continue;
            }
            if (x + square <= width && y + square <= height && repeats(x, y, square, square)) {
                mark(x, y, square, square);
            }
            if (y + along <= height && repeats(x, y, across, along)) {
                mark(x, y, across, along);
            }
            if (x + along <= width && repeats(x, y, along, across)) {
                mark(x, y, along, across);
            }
        }
    }
    return stipple;
}

int textGround(const QImage& gray, const QRect& area, const QRect& padded, int lineHeight)
{
    const int outer = marginLevel(gray, padded);
    const int inner = backgroundLevel(gray, area);
    if (std::abs(inner - outer) <= inkContrast || !showsGround(gray, area, outer)) {
        return inner;
    }
    // Both may be grounds: the page between speech bubbles of several lengths, the fill of each bubble
    // around its label. Strokes are narrow, a letter or two wide; a fill spans its text and more.
    return widestPatch(gray, area, inner) > 2.5 * lineHeight ? inner : outer;
}

} // namespace lumetrove::recognition
