#include "platform/look.h"

namespace tclink::platform {

void useSongStandIn()
{
    for (const QString& family :
         {QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun")}) {
        QFont::insertSubstitution(family, QLatin1String(SongStandIn));
    }
}

QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        icon.addFile(QStringLiteral(":/icons/tclink-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace tclink::platform
