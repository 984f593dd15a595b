#pragma once

#include <QString>

namespace tclink::rdp {

// The folder FreeRDP keeps its files in (client licences; on FreeRDP 2 also its certificate
// store's folders, which stay empty): the user's configuration folder when it can be written;
// else, so that a home that cannot be written does not stop a login, one in the user's private
// runtime folder, made here.
QString freerdpConfigFolder();

} // namespace tclink::rdp
