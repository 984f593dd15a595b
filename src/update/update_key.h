#pragma once

#include <QString>

namespace tclink::update {

// The base64 line of the minisign public key that updates must be signed with; empty when
// the program was built without one (updates are then installed unsigned).
QString updatePublicKey();

} // namespace tclink::update
