#include "platform/look.h"

#include <QPainter>
#include <QPixmap>

namespace tclink::platform {

QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(desktopColour());
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 5.0, size / 5.0);
        painter.setPen(Qt::white);
        QFont font = simSun(size * 0.45, true);
        font.setPixelSize(size * 3 / 4);
        painter.setFont(font);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("岚"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace tclink::platform
