// The steps of installing and removing the driver package: root devices,
// INF sections, the multipath device driver, adapter restarts, and the
// clean-up of the INF and drivers directories.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install/installer.h"

namespace install {

/// Installs the INF's driver for `hardwareId`, creating and registering a
/// root device first when none carries the id. Prints its result line.
Win32Error InstallRootDevice(Installer& in, const std::string& infPath,
                             const std::string& hardwareId, uint32_t* reboot);
/// Removes the devices of the INF's class that carry `hardwareId`, runs
/// the INF's "DefaultUninstall" section and, on 5.0 and older, applies its
/// delete-string lines to list `number` (1 or 2). Prints its result line.
Win32Error UninstallDeviceInf(Installer& in, const std::string& infPath,
                              const std::string& hardwareId, int number, uint32_t* reboot);
/// Runs an INF section's files and registry, then its ".Services"
/// section (skipped for the DSM's "DefaultUninstall" while the DSM still
/// lists supported devices). Prints "Success" or the failure line.
Win32Error ProcessInfSection(Installer& in, const std::string& infPath, const std::string& section);
/// Marks the supported disks for the multipath device driver and, when
/// `full`, copies the INF and installs its driver for them.
Win32Error InstallMultiPathDeviceDriver(Installer& in, const std::string& infPath, bool full,
                                        uint32_t* reboot);
/// Releases the disks no longer supported; with no supported device left,
/// runs the INF's "DefaultUninstall". `list` may be null.
Win32Error UninstallMultiPathDeviceDriver(Installer& in, const std::string& infPath,
                                          const std::vector<std::string>* list, uint32_t* reboot);
/// Restarts every SCSI adapter but the multipath bus.
Win32Error RestartScsiAdapters(Installer& in, uint32_t* reboot);

/// Removes the INF directory's copy of the INF and its precompiled twin.
void RemoveOemInfCopy(Installer& in, const std::string& infPath);
/// Deletes a file of the drivers directory.
void DeleteDriverFile(Installer& in, const std::string& name);
/// Removes every INF of the INF directory that names `catalog` on a line
/// of its own beginning "CatalogFile = <catalog>".
void RemoveInfsForCatalog(Installer& in, const std::string& catalog);

/// Whether the DSM's own supported device list is empty or unreadable.
bool IsDsmDeviceListEmpty(Installer& in);
/// A fresh version read: true when it fails, or below 5, or 5.0.
bool IsWindows2000OrOlder(Installer& in);
/// Whether the text of an INF file has a line "CatalogFile = <catalog>"
/// (case and blanks exactly so), the line ending after the name or going
/// on with blanks or a comment.
bool NamesCatalog(const std::string& text, const std::string& catalog);

}  // namespace install
