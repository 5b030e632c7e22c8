// Windows only: disks and SCSI ports behind the seam.
#pragma once

#include "platform/device_io.h"

namespace platform::win32 {

/// The devices of this machine through CreateFileA, DeviceIoControl,
/// QueryDosDeviceA and CloseHandle. One object for the process.
DeviceIo& RealDevices();

}  // namespace platform::win32
