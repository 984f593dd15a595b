#include "session/rdp/config_folder.h"

#include "session/rdp/freerdp_log.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tclink::rdp {

QString freerdpConfigFolder()
{
    const QString preferred =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/freerdp";
    if (QDir().mkpath(preferred) && QFileInfo(preferred).isWritable())
        return preferred;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return preferred;
    const QString fallback = runtime + "/tclink-freerdp";
    // Made here: FreeRDP 3 makes the folder only when it first stores a licence.
    QDir().mkpath(fallback);
    qCWarning(lcRdp).noquote() << "cannot write" << preferred << "- FreeRDP's files go to"
                               << fallback;
    return fallback;
}

} // namespace tclink::rdp
