#include "DibImage.h"

namespace Jel {

namespace {

QList<QRgb> ColorTable(const DibSection& section, int entries)
{
    QList<QRgb> table(entries, qRgb(0, 0, 0));
    const Palette& colors = section.Colors();
    for (int i = 0; i < entries && i < int(colors.size()); ++i)
        table[i] = qRgb(colors[i].red, colors[i].green, colors[i].blue);
    return table;
}

} // namespace

QImage WrapDibRows(const DibSection& section)
{
    const uchar* bits = section.Pixels();
    const int w = section.Width();
    const int h = section.Height();
    const qsizetype stride = static_cast<qsizetype>(section.BytesPerLine());
    QImage image;
    switch (section.BitCount()) {
    case 1:
        image = QImage(bits, w, h, stride, QImage::Format_Mono);
        image.setColorTable(ColorTable(section, 2));
        break;
    case 4: {
        image = QImage(w, h, QImage::Format_Indexed8);
        image.setColorTable(ColorTable(section, 16));
        for (int y = 0; y < h; ++y) {
            const uchar* src = bits + stride * y;
            uchar* dst = image.scanLine(y);
            for (int x = 0; x < w; ++x)
                dst[x] = (x & 1) ? (src[x / 2] & 0x0F) : (src[x / 2] >> 4);
        }
        break;
    }
    case 8:
        image = QImage(bits, w, h, stride, QImage::Format_Indexed8);
        image.setColorTable(ColorTable(section, 256));
        break;
    case 16:
        image = QImage(bits, w, h, stride, QImage::Format_RGB555);
        break;
    case 24:
        image = QImage(bits, w, h, stride, QImage::Format_BGR888);
        break;
    case 32:
        image = QImage(bits, w, h, stride, QImage::Format_RGB32);
        break;
    }
    return image;
}

QImage DibToImage(const DibSection& section)
{
    QImage rows = WrapDibRows(section);
    QImage image = rows.convertToFormat(QImage::Format_RGB32);
    if (!section.IsTopDown())
        image = image.mirrored(false, true);
    return image;
}

} // namespace Jel
