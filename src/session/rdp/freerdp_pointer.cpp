#include "session/rdp/freerdp_pointer.h"

#include <algorithm>
#include <atomic>

#include <freerdp/gdi/gdi.h>

#include "session/rdp/freerdp_compat.h"

namespace tclink::rdp {

namespace {

// FreeRDP allocates the pointer with the prototype's size: the library's part first.
struct Pointer {
    rdpPointer base;
    QImage* image;
};

// One receiver serves every connection of the process; it finds its session by the context.
std::atomic<PointerNotify> receiver{nullptr};

void tell(rdpContext* context, RemotePointer::Kind kind, QImage image = {}, QPoint point = {})
{
    if (const PointerNotify notify = receiver.load())
        notify(context, RemotePointer{kind, std::move(image), point});
}

BOOL onNew(rdpContext* context, rdpPointer* pointer)
{
    const gdiPalette* palette = context->gdi ? &context->gdi->palette : nullptr;
    reinterpret_cast<Pointer*>(pointer)->image = new QImage(pointerImage(*pointer, palette));
    return TRUE;
}

void onFree(rdpContext*, rdpPointer* pointer)
{
    auto* p = reinterpret_cast<Pointer*>(pointer);
    delete p->image;
    p->image = nullptr;
}

BOOL onSet(rdpContext* context, compat::PointerToSet* pointer)
{
    const QImage* image = reinterpret_cast<const Pointer*>(pointer)->image;
    if (!image || image->isNull()) {
        tell(context, RemotePointer::Kind::Hidden);
        return TRUE;
    }
    tell(context, RemotePointer::Kind::Shape, *image, pointerHotSpot(*pointer, image->size()));
    return TRUE;
}

BOOL onSetNull(rdpContext* context)
{
    tell(context, RemotePointer::Kind::Hidden);
    return TRUE;
}

BOOL onSetDefault(rdpContext* context)
{
    tell(context, RemotePointer::Kind::Default);
    return TRUE;
}

BOOL onSetPosition(rdpContext* context, UINT32 x, UINT32 y)
{
    tell(context, RemotePointer::Kind::Position, {},
         QPoint(static_cast<int>(std::min<UINT32>(x, 0xFFFF)),
                static_cast<int>(std::min<UINT32>(y, 0xFFFF))));
    return TRUE;
}

} // namespace

QImage pointerImage(const rdpPointer& pointer, const gdiPalette* palette)
{
    // RDP pointers are at most 384 x 384 pixels.
    constexpr UINT32 largest = 384;
    if (pointer.width == 0 || pointer.height == 0 || pointer.width > largest ||
        pointer.height > largest)
        return {};
    QImage image(static_cast<int>(pointer.width), static_cast<int>(pointer.height),
                 QImage::Format_ARGB32);
    if (image.isNull() ||
        !freerdp_image_copy_from_pointer_data(
            image.bits(), PIXEL_FORMAT_BGRA32, static_cast<UINT32>(image.bytesPerLine()), 0, 0,
            pointer.width, pointer.height, pointer.xorMaskData, pointer.lengthXorMask,
            pointer.andMaskData, pointer.lengthAndMask, pointer.xorBpp, palette))
        return {};
    return image;
}

QPoint pointerHotSpot(const rdpPointer& pointer, QSize image)
{
    const auto clamp = [](UINT32 v, int size) {
        return static_cast<int>(std::min<UINT32>(v, static_cast<UINT32>(std::max(size - 1, 0))));
    };
    return {clamp(pointer.xPos, image.width()), clamp(pointer.yPos, image.height())};
}

void registerPointer(rdpContext* context, PointerNotify notify)
{
    receiver = notify;
    rdpPointer prototype{};
    prototype.size = sizeof(Pointer);
    prototype.New = onNew;
    prototype.Free = onFree;
    prototype.Set = onSet;
    prototype.SetNull = onSetNull;
    prototype.SetDefault = onSetDefault;
    prototype.SetPosition = onSetPosition;
    graphics_register_pointer(context->graphics, &prototype);
}

} // namespace tclink::rdp
