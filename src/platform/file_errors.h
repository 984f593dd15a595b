#pragma once

#include "platform/runtime_error.h"

namespace tclink::platform {

// The run-time error the user is shown for a failed file operation (an errno value).
RuntimeError fileError(int errorNumber);
// The error for a drive that does not exist.
RuntimeError driveNotReady();
// The error for a file that does not exist.
RuntimeError fileNotFound();

} // namespace tclink::platform
