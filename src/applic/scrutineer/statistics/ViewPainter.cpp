#include "ViewPainter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace Tav {

namespace {

constexpr int HlsMax = 255;
constexpr int RgbMax = 255;

int HueToRgb(int n1, int n2, int hue)
{
    if (hue < 0)
        hue += HlsMax;
    if (hue > HlsMax)
        hue -= HlsMax;
    if (hue < HlsMax / 6)
        return n1 + (((n2 - n1) * hue + HlsMax / 12) / (HlsMax / 6));
    if (hue < HlsMax / 2)
        return n2;
    if (hue < (HlsMax * 2) / 3)
        return n1 + (((n2 - n1) * (((HlsMax * 2) / 3) - hue) + HlsMax / 12) / (HlsMax / 6));
    return n1;
}

uint8_t ToByte(int value)
{
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

struct Glyph {
    char c;
    uint8_t rows[7];
};

constexpr Glyph Font[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}}, {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
};

constexpr int LabelWidth = 6 * 6 + 4; // six characters and a gap
constexpr int LabelHeight = 7 + 4;

} // namespace

CRgbColor HlsToRgb(int hue, int lightness, int saturation)
{
    if (saturation == 0) {
        const uint8_t grey = ToByte(lightness * RgbMax / HlsMax);
        return {grey, grey, grey};
    }
    const int magic2 = lightness <= HlsMax / 2
                           ? (lightness * (HlsMax + saturation) + HlsMax / 2) / HlsMax
                           : lightness + saturation - ((lightness * saturation) + HlsMax / 2) / HlsMax;
    const int magic1 = 2 * lightness - magic2;
    auto channel = [&](int h) { return ToByte((HueToRgb(magic1, magic2, h) * RgbMax + HlsMax / 2) / HlsMax); };
    return {channel(hue + HlsMax / 3), channel(hue), channel(hue - HlsMax / 3)};
}

std::string FormatAxisLabel(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    std::string out(text);
    // 1e+03 -> 1e3, 1e-05 -> 1e-5
    const size_t e = out.find('e');
    if (e != std::string::npos) {
        std::string mantissa = out.substr(0, e);
        int exponent = std::atoi(out.c_str() + e + 1);
        out = mantissa + "e" + std::to_string(exponent);
    }
    return out;
}

CViewPainter::CViewPainter(uint8_t* pixels, int width, int height, int pitch)
    : pixels(pixels), width(width), height(height), pitch(pitch)
{
}

void CViewPainter::Put(int x, int y, CRgbColor color)
{
    if (!pixels || x < 0 || y < 0 || x >= width || y >= height)
        return;
    uint8_t* p = pixels + ptrdiff_t(y) * pitch + 3 * x;
    p[0] = color.blue;
    p[1] = color.green;
    p[2] = color.red;
}

CRgbColor CViewPainter::Get(int x, int y) const
{
    if (!pixels || x < 0 || y < 0 || x >= width || y >= height)
        return {0, 0, 0};
    const uint8_t* p = pixels + ptrdiff_t(y) * pitch + 3 * x;
    return {p[2], p[1], p[0]};
}

void CViewPainter::Line(int x0, int y0, int x1, int y1, CRgbColor color)
{
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        Put(x0, y0, color);
        if (x0 == x1 && y0 == y1)
            break;
        const int e2 = 2 * error;
        if (e2 >= dy) {
            error += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

void CViewPainter::Text(int x, int y, const std::string& text, CRgbColor color)
{
    // A dark shadow keeps the text readable on bright pictures.
    for (int pass = 0; pass < 2; ++pass) {
        const int shift = pass == 0 ? 1 : 0;
        const CRgbColor ink = pass == 0 ? CRgbColor{0, 0, 0} : color;
        int left = x;
        for (char c : text) {
            for (const Glyph& glyph : Font) {
                if (glyph.c != c)
                    continue;
                for (int row = 0; row < 7; ++row)
                    for (int col = 0; col < 5; ++col)
                        if (glyph.rows[row] & (0x10 >> col))
                            Put(left + col + shift, y + row + shift, ink);
            }
            left += 6;
        }
    }
}

CViewPainter::Box CViewPainter::PlotBox() const
{
    // Labels only where they leave the plot most of the picture.
    if (width >= 4 * LabelWidth && height >= 6 * LabelHeight)
        return {LabelWidth, LabelHeight / 2, width - 8, height - 1 - LabelHeight};
    return {0, 0, width - 1, height - 1};
}

int CViewPainter::ToX(const Box& box, double index, double count) const
{
    if (count <= 1)
        return box.left;
    return box.left + int(std::lround(index * (box.right - box.left) / (count - 1)));
}

int CViewPainter::ToY(const Box& box, double value, double yMin, double yMax) const
{
    if (!(yMax > yMin))
        return box.bottom;
    const double t = std::clamp((value - yMin) / (yMax - yMin), 0.0, 1.0);
    return box.bottom - int(std::lround(t * (box.bottom - box.top)));
}

void CViewPainter::Axes(const Box& box, double xMin, double xMax, double yMin, double yMax)
{
    Line(box.left, box.bottom, box.right, box.bottom, White);
    Line(box.left, box.top, box.left, box.bottom, White);
    if (box.left == 0)
        return; // no room for labels
    constexpr int Ticks = 4;
    for (int i = 0; i <= Ticks; ++i) {
        const int y = box.bottom - (box.bottom - box.top) * i / Ticks;
        Line(box.left - 3, y, box.left, y, White);
        const std::string label = FormatAxisLabel(yMin + (yMax - yMin) * i / Ticks);
        Text(box.left - 4 - 6 * int(label.size()), y - 3, label, White);
        const int x = box.left + (box.right - box.left) * i / Ticks;
        Line(x, box.bottom, x, box.bottom + 3, White);
        const std::string xLabel = FormatAxisLabel(xMin + (xMax - xMin) * i / Ticks);
        const int textWidth = 6 * int(xLabel.size()) - 1;
        Text(std::clamp(x - textWidth / 2, 0, width - textWidth), box.bottom + 4, xLabel, White);
    }
}

void CViewPainter::Curve(const Box& box, const std::vector<double>& values, double yMin, double yMax,
                         CRgbColor color)
{
    const double count = double(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const int x = ToX(box, double(i), count);
        const int y = ToY(box, values[i], yMin, yMax);
        if (i == 0)
            Put(x, y, color);
        else
            Line(ToX(box, double(i - 1), count), ToY(box, values[i - 1], yMin, yMax), x, y, color);
    }
}

void CViewPainter::Bars(const Box& box, const std::vector<double>& values, double yMin, double yMax,
                        CRgbColor color)
{
    const double count = double(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const int x0 = ToX(box, double(i), count);
        const int x1 = i + 1 < values.size() ? std::max(x0, ToX(box, double(i + 1), count) - 1) : x0;
        const int y = ToY(box, values[i], yMin, yMax);
        for (int x = x0; x <= x1; ++x)
            Line(x, box.bottom, x, y, color);
    }
}

void CViewPainter::Marker(const Box& box, long index, long count, CRgbColor color)
{
    if (index < 0 || index >= count)
        return;
    const int x = ToX(box, double(index), double(count));
    for (int y = box.top; y <= box.bottom; y += 2)
        Put(x, y, color);
}

} // namespace Tav
