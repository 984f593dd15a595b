#include "platform/look.h"

namespace tclink::platform {

QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        icon.addFile(QStringLiteral(":/icons/tclink-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace tclink::platform
