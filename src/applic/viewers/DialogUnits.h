#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QWidget>

namespace Tav {

inline int DialogBaseWidth(const QFont& font)
{
    const QFontMetrics metrics(font);
    return (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") + 26) / 52;
}

// The dialogs' font: the application's at 8 points, made smaller where its
// characters are wider than the 6 pixels (at 96 dpi) the layouts were made
// for, so that the texts fit their controls.
inline void ApplyDialogFont(QWidget& widget)
{
    QFont font = widget.font();
    font.setPointSizeF(8.0);
    const int target = (6 * widget.logicalDpiX() + 48) / 96;
    while (DialogBaseWidth(font) > target && font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    widget.setFont(font);
}

// Dialog layouts are given in dialog units: a quarter of the font's average
// character width horizontally, an eighth of its height vertically.
inline QRect DialogUnitsToPixels(const QWidget& widget, int x, int y, int width, int height)
{
    const int baseX = DialogBaseWidth(widget.font());
    const int baseY = QFontMetrics(widget.font()).height();
    auto horizontal = [baseX](int units) { return (units * baseX + 2) / 4; };
    auto vertical = [baseY](int units) { return (units * baseY + 4) / 8; };
    return QRect(horizontal(x), vertical(y), horizontal(width), vertical(height));
}

} // namespace Tav
