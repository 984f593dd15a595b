#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QtMath>

namespace tclink::platform {

// Positions and sizes are designed in twips; 15 twips make one pixel.
inline constexpr int TwipsPerPixel = 15;
inline int pixels(int twips)
{
    return qRound(double(twips) / TwipsPerPixel);
}
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}

// The system colours the windows are drawn in.
inline QColor desktopColour()
{
    return QColor(58, 110, 165);
}
inline QColor highlightTextColour()
{
    return QColor(255, 255, 255);
}

// SimSun ("宋体"), the face of every window; where it is missing, fontconfig substitutes a
// CJK face for it.
inline QFont simSun(double pointSize, bool bold = false)
{
    QFont font(QStringLiteral("SimSun"));
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体")});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// The program's window icon.
QIcon programIcon();

} // namespace tclink::platform
