#include "session/rdp/config_folder.h"

#include "session/rdp/freerdp_log.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace tclink::rdp {

ConfigFolder::ConfigFolder() = default;
ConfigFolder::~ConfigFolder() = default;

QString ConfigFolder::path()
{
    const QString preferred =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/freerdp";
    if (QDir().mkpath(preferred) && QFileInfo(preferred).isWritable())
        return preferred;
    if (!temporary_) {
        temporary_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/tclink-freerdp-XXXXXX");
        qCWarning(lcRdp).noquote() << "cannot write" << preferred << "- FreeRDP's files go to"
                                   << temporary_->path() << "for this run";
    }
    return temporary_->isValid() ? temporary_->path() : preferred;
}

} // namespace tclink::rdp
