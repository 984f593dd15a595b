#include "update/update_key.h"

// The key comes from the build (TCLINK_UPDATE_PUBLIC_KEY). A program built for tests links its
// own definition of this function ahead of the library's.
namespace tclink::update {

QString updatePublicKey()
{
    return QStringLiteral(TCLINK_UPDATE_PUBLIC_KEY);
}

} // namespace tclink::update
