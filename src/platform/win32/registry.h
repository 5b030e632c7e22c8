// Windows only: the real registry behind the seam.
#pragma once

#include "platform/registry.h"

namespace platform::win32 {

/// The registry of this machine through RegOpenKeyExA, RegQueryValueExA,
/// RegSetValueExA and RegCloseKey. One object for the process.
Registry& RealRegistry();

}  // namespace platform::win32
