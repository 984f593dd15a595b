#pragma once

#include <QImage>
#include <QMetaType>
#include <QPoint>

#include <freerdp/codec/color.h>
#include <freerdp/freerdp.h>
#include <freerdp/graphics.h>

namespace tclink::rdp {

// What the server did with its pointer: a new shape (with its hot spot), hidden, the
// system's default arrow, or moved to a point of the remote desktop.
struct RemotePointer {
    enum class Kind { Shape, Hidden, Default, Position };
    Kind kind = Kind::Default;
    QImage image; // Shape: ARGB32, not premultiplied
    QPoint point; // Shape: hot spot; Position: where the pointer went
};

// The pointer's picture from its RDP masks (XOR mask of 1 to 32 bits per pixel, AND mask of
// one bit per pixel), with transparency; a null image when the masks are unusable.
QImage pointerImage(const rdpPointer& pointer, const gdiPalette* palette);

// The hot spot inside the picture.
QPoint pointerHotSpot(const rdpPointer& pointer, QSize image);

// Installs the pointer callbacks of a connection; every change is handed to the function.
using PointerNotify = void (*)(rdpContext* context, const RemotePointer& pointer);
void registerPointer(rdpContext* context, PointerNotify notify);

} // namespace tclink::rdp

Q_DECLARE_METATYPE(tclink::rdp::RemotePointer)
