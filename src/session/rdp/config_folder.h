#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;

namespace tclink::rdp {

// The folder FreeRDP keeps its files in (client licences; its certificate store's folders,
// which stay empty): the user's configuration folder when it can be written; else, so that a
// home that cannot be written does not stop a login, a private temporary folder that goes
// with this object.
class ConfigFolder {
public:
    ConfigFolder();
    ~ConfigFolder();

    QString path();

private:
    std::unique_ptr<QTemporaryDir> temporary_;
};

} // namespace tclink::rdp
