#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tav {

struct CRgbColor {
    uint8_t red, green, blue;
    bool operator==(const CRgbColor&) const = default;
};

// Hue, lightness and saturation on a 0..255 scale (hue sectors of 255 / 6)
// to RGB, with the integer rounding of the classic HLS conversion.
CRgbColor HlsToRgb(int hue, int lightness, int saturation);

// Draws plots into a 24-bit picture whose bytes per pixel are blue, green,
// red, as the viewers' bitmaps take them. Everything is clipped to the picture.
class CViewPainter {
public:
    struct Box {
        int left, top, right, bottom; // inclusive
    };

    CViewPainter(uint8_t* pixels, int width, int height, int pitch);

    void Put(int x, int y, CRgbColor color);
    CRgbColor Get(int x, int y) const;
    void Line(int x0, int y0, int x1, int y1, CRgbColor color);
    // Digits, '.', '-', '+', 'e' and blanks in a 5 x 7 font, 6 pixels apart.
    void Text(int x, int y, const std::string& text, CRgbColor color);

    // The area a plot uses: the picture less room for the axis labels where
    // the picture is large enough to carry them.
    Box PlotBox() const;
    // Frame, ticks and labels for x over xMin..xMax and y over yMin..yMax.
    void Axes(const Box& box, double xMin, double xMax, double yMin, double yMax);
    // values[i] at x = i, scaled to the box; values outside yMin..yMax are
    // drawn at the box's edge.
    void Curve(const Box& box, const std::vector<double>& values, double yMin, double yMax, CRgbColor color);
    // Vertical bars from yMin up to each value.
    void Bars(const Box& box, const std::vector<double>& values, double yMin, double yMax, CRgbColor color);
    // A vertical line at index `index` of `count` values.
    void Marker(const Box& box, long index, long count, CRgbColor color);

    int Width() const { return width; }
    int Height() const { return height; }

    static constexpr CRgbColor White{255, 255, 255};
    static constexpr CRgbColor Green{0, 255, 0};
    static constexpr CRgbColor Yellow{255, 255, 0};
    static constexpr CRgbColor Red{255, 0, 0};
    static constexpr CRgbColor Cyan{0, 255, 255};

private:
    int ToX(const Box& box, double index, double count) const;
    int ToY(const Box& box, double value, double yMin, double yMax) const;

    uint8_t* pixels;
    int width;
    int height;
    int pitch;
};

// "%.3g" without the blanks and the redundant exponent digits.
std::string FormatAxisLabel(double value);

} // namespace Tav
