#include "pointers.h"

#include "freerdp_compat.h"

#include <QPainter>

#include <cstring>
#include <vector>

#include <freerdp/pointer.h>
#include <freerdp/update.h>

namespace demo {

namespace {

constexpr int kPointerSize = 32;
constexpr QRgb kTextInk = qRgba(0, 0, 0, 255);
constexpr QRgb kTextOutline = qRgba(255, 255, 255, 255);
constexpr QRgb kHandColour = qRgba(0, 120, 215, 255);
constexpr QRgb kShadow = qRgba(0, 0, 0, 128);

QImage textPointer()
{
    QImage image(kPointerSize, kPointerSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(14, 3, 4, 26, QColor::fromRgba(kTextOutline));
    p.fillRect(10, 3, 12, 3, QColor::fromRgba(kTextOutline));
    p.fillRect(10, 26, 12, 3, QColor::fromRgba(kTextOutline));
    p.fillRect(15, 4, 2, 24, QColor::fromRgba(kTextInk));
    p.fillRect(11, 4, 10, 1, QColor::fromRgba(kTextInk));
    p.fillRect(11, 27, 10, 1, QColor::fromRgba(kTextInk));
    return image;
}

QImage linkPointer()
{
    QImage image(kPointerSize, kPointerSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(8, 0, 4, 12, QColor::fromRgba(kHandColour)); // the pointing finger
    p.fillRect(8, 12, 16, 18, QColor::fromRgba(kHandColour));
    p.fillRect(24, 14, 4, 16, QColor::fromRgba(kShadow));
    return image;
}

} // namespace

QRect pointerAreaRect(PointerArea area, QSize desktop)
{
    const int top = desktop.height() - 64;
    switch (area) {
    case PointerArea::Text:
        return {16, top, 120, 36};
    case PointerArea::Link:
        return {152, top, 120, 36};
    case PointerArea::Hidden:
        return {288, top, 120, 36};
    case PointerArea::None:
        break;
    }
    return {};
}

PointerArea pointerAreaAt(QSize desktop, QPoint point)
{
    for (PointerArea area : {PointerArea::Text, PointerArea::Link, PointerArea::Hidden}) {
        if (pointerAreaRect(area, desktop).contains(point)) {
            return area;
        }
    }
    return PointerArea::None;
}

void drawPointerAreas(QPainter& painter, QSize desktop)
{
    const std::pair<PointerArea, QString> areas[] = {
        {PointerArea::Text, QStringLiteral("输入框")},
        {PointerArea::Link, QStringLiteral("链接")},
        {PointerArea::Hidden, QStringLiteral("无指针")}};
    for (const auto& [area, label] : areas) {
        const QRect r = pointerAreaRect(area, desktop);
        painter.fillRect(r, QColor(255, 255, 255));
        painter.setPen(QColor(120, 130, 150));
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        painter.setPen(area == PointerArea::Link ? QColor(0, 90, 200) : QColor(40, 40, 40));
        painter.drawText(r, Qt::AlignCenter, label);
    }
}

QImage pointerPicture(PointerArea area)
{
    switch (area) {
    case PointerArea::Text:
        return textPointer();
    case PointerArea::Link:
        return linkPointer();
    case PointerArea::Hidden:
    case PointerArea::None:
        break;
    }
    return {};
}

QPoint pointerHotSpot(PointerArea area)
{
    return area == PointerArea::Text ? QPoint(16, 16) : QPoint(9, 0);
}

bool PointerFollower::follow(rdpContext* context, QSize desktop, QPoint point)
{
    const PointerArea area = pointerAreaAt(desktop, point);
    if (area == current_) {
        return true;
    }
    current_ = area;
    rdpPointerUpdate* update = context->update->pointer;
    const QImage picture = pointerPicture(area);
    if (picture.isNull()) {
        POINTER_SYSTEM_UPDATE system{};
        system.type = area == PointerArea::Hidden ? SYSPTR_NULL : SYSPTR_DEFAULT;
        return update->PointerSystem(context, &system);
    }
    // RDP sends the rows bottom-up; the XOR mask carries the colours and alpha, the AND mask
    // (one bit per pixel, rows padded to 16 bits) is all zero.
    const auto rowBytes = std::size_t(picture.width()) * 4;
    std::vector<BYTE> xorMask(rowBytes * std::size_t(picture.height()));
    for (int y = 0; y < picture.height(); ++y) {
        std::memcpy(xorMask.data() + rowBytes * std::size_t(y),
                    picture.constScanLine(picture.height() - 1 - y), rowBytes);
    }
    const auto andRow = std::size_t((picture.width() + 15) / 16 * 2);
    std::vector<BYTE> andMask(andRow * std::size_t(picture.height()), 0);
    const QPoint hotSpot = pointerHotSpot(area);
    POINTER_NEW_UPDATE pointer{};
    pointer.xorBpp = 32;
    pointer.colorPtrAttr.cacheIndex = area == PointerArea::Text ? 0 : 1;
    compat::setHotSpot(pointer.colorPtrAttr, UINT32(hotSpot.x()), UINT32(hotSpot.y()));
    pointer.colorPtrAttr.width = UINT16(picture.width());
    pointer.colorPtrAttr.height = UINT16(picture.height());
    pointer.colorPtrAttr.lengthXorMask = UINT16(xorMask.size());
    pointer.colorPtrAttr.xorMaskData = xorMask.data();
    pointer.colorPtrAttr.lengthAndMask = UINT16(andMask.size());
    pointer.colorPtrAttr.andMaskData = andMask.data();
    return update->PointerNew(context, &pointer);
}

} // namespace demo
