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

// SimSun ("宋体"), the face of every window; where it is missing, the Song stand-in of
// useSongStandIn() draws it.
inline QFont simSun(double pointSize, bool bold = false)
{
    QFont font(QStringLiteral("SimSun"));
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体")});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// The face that stands in for SimSun, 宋体 and NSimSun where they are not installed (Debian has
// none of them): AR PL UMing CN, a Song face with the simplified forms whose characters have
// SimSun's widths (Chinese one em, Latin half an em) and whose lines are as far apart, so the
// launcher's guidance text wraps at the same characters and keeps inside its frame. It is the
// program's own font substitution, set once at start-up before the first window: the machine's
// font configuration stays as it is, and an installed SimSun is still used.
inline constexpr auto SongStandIn = "AR PL UMing CN";
void useSongStandIn();

// The program's window icon.
QIcon programIcon();

} // namespace tclink::platform
