// Windows only: device installation and the installer's system services
// behind the seam.
#pragma once

#include "platform/setup.h"
#include "platform/system.h"

namespace platform::win32 {

/// SetupAPI and newdev (UpdateDriverForPlugAndPlayDevicesA). One object
/// for the process.
DeviceSetup& RealDeviceSetup();

/// GetVersionExA, FormatMessageA, the environment, FindFirstFileA and the
/// other file and directory calls. One object for the process.
System& RealSystem();

}  // namespace platform::win32
