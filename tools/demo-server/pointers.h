#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

#include <freerdp/freerdp.h>

class QPainter;

namespace demo {

// Areas of the application's screen where the server shows a pointer of its own, as a real
// application does over a text field or a link.
enum class PointerArea { None, Text, Link, Hidden };

QRect pointerAreaRect(PointerArea area, QSize desktop);
PointerArea pointerAreaAt(QSize desktop, QPoint point);
void drawPointerAreas(QPainter& painter, QSize desktop);

// The pointers' pictures (32-bit with alpha) and hot spots.
QImage pointerPicture(PointerArea area);
QPoint pointerHotSpot(PointerArea area);

// Follows the client's pointer over the areas and sends the pointer of the one it enters:
// a colour pointer over text and links, none over the hidden area, the default elsewhere.
class PointerFollower {
public:
    bool follow(rdpContext* context, QSize desktop, QPoint point);

private:
    PointerArea current_ = PointerArea::None;
};

} // namespace demo
