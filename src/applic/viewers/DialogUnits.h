#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QWidget>

namespace Tav {

// The dialogs' font: the application's at 8 points.
inline void ApplyDialogFont(QWidget& widget)
{
    QFont font = widget.font();
    font.setPointSize(8);
    widget.setFont(font);
}

// Dialog layouts are given in dialog units: a quarter of the font's average
// character width horizontally, an eighth of its height vertically.
inline QRect DialogUnitsToPixels(const QWidget& widget, int x, int y, int width, int height)
{
    const QFontMetrics metrics(widget.font());
    const int baseX = (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") + 26) / 52;
    const int baseY = metrics.height();
    auto horizontal = [baseX](int units) { return (units * baseX + 2) / 4; };
    auto vertical = [baseY](int units) { return (units * baseY + 4) / 8; };
    return QRect(horizontal(x), vertical(y), horizontal(width), vertical(height));
}

} // namespace Tav
