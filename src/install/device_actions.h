// The walk over the devices of a setup class and the actions taken on
// each device: removal, adapter restart, marking and releasing disks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install/installer.h"

namespace install {

/// An action on one device of a set. `text` is a hardware id (one entry),
/// a list of supported devices or of removed ids (blanks already made
/// "_"), or null. Returns 0 to go on, or the error that ends the walk;
/// `*reboot` becomes 1 when the device needs a restart or reboot.
using DeviceAction = Win32Error (*)(Installer& in, platform::DeviceInfoSet& set,
                                    platform::DeviceElement element,
                                    const std::vector<std::string>* text, uint32_t* reboot);

/// Calls `action` on every device of `cls`, present or not, until one
/// fails. `*reboot` takes the first action's reboot flag that is set.
/// Returns 0, the error of opening the class, or the failing action's.
Win32Error ForEachClassDevice(Installer& in, const platform::ClassGuid& cls, DeviceAction action,
                              const std::vector<std::string>* text, uint32_t* reboot);

/// The device's hardware ids. A list longer than the usual 1026 bytes is
/// read again into a buffer of its size.
Win32Error ReadHardwareIds(platform::DeviceInfoSet& set, platform::DeviceElement element,
                           std::vector<std::string>* ids);

/// Removes the device when one of its ids is (*text)[0].
Win32Error RemoveMatchingDevice(Installer& in, platform::DeviceInfoSet& set,
                                platform::DeviceElement element,
                                const std::vector<std::string>* text, uint32_t* reboot);
/// Restarts an adapter, except the multipath bus ("Detected\MPIO").
Win32Error RestartAdapter(Installer& in, platform::DeviceInfoSet& set,
                          platform::DeviceElement element, const std::vector<std::string>* text,
                          uint32_t* reboot);
/// Makes a supported disk's "GenDisk" id "MPIODisk" and flags it for
/// reinstallation.
Win32Error MarkDiskForMultiPath(Installer& in, platform::DeviceInfoSet& set,
                                platform::DeviceElement element,
                                const std::vector<std::string>* text, uint32_t* reboot);
/// Removes a disk named by a removed id, enumerated by MPIO or SCSI.
Win32Error RemoveRebuiltDisk(Installer& in, platform::DeviceInfoSet& set,
                             platform::DeviceElement element, const std::vector<std::string>* text,
                             uint32_t* reboot);
/// Gives a disk no longer supported back to the plain disk driver.
Win32Error ReleaseDisk(Installer& in, platform::DeviceInfoSet& set, platform::DeviceElement element,
                       const std::vector<std::string>* text, uint32_t* reboot);

}  // namespace install
