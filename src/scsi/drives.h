// The physical drives of the machine and the identifiers that name them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/output.h"

namespace scsi {

/// The machine's device-name list: asked for with 128 KiB, then with
/// twice as much while it does not fit, up to 16 MiB. The last call's
/// result.
platform::Win32Error ReadDeviceNames(platform::DeviceIo& devices, std::string* names);

/// Calls `action` with "\\.\<name>" for every disk, CD-ROM, tape, scanner
/// or printer name of the machine's device-name list, in list order.
/// 0xFFFFFFFF after a completed walk, 0 when the list cannot be read.
uint32_t ForEachPhysicalDrive(const std::function<void(const std::string& path)>& action);

/// The drive identifier ("%02X%02X%02X%02X-%02X") in a 64-byte
/// device-identification page, or empty when the page's descriptors would
/// lead outside the 64 bytes.
std::string IdentifierOfPage(const std::array<uint8_t, 64>& page);

/// Sends the device-identification inquiry to `path` and returns the drive
/// identifier, or empty when the drive does not answer with that page.
std::string QueryDriveIdentifier(const std::string& path, platform::Output& out);

/// The path ("\\.\PhysicalDriveN") of the first physical drive in walk
/// order whose identifier is `identifier`, or empty when none has it (an
/// empty identifier is nobody's). Drives after that one are not asked.
std::string FindDriveWithIdentifier(const std::string& identifier, platform::Output& out);

/// A physical drive and its identifier.
struct DriveIdentity {
  std::string Identifier;
  int32_t Number = 0;
};

/// Appends one record per physical drive with a non-empty identifier.
/// Returns what ForEachPhysicalDrive returns.
uint32_t CollectDriveIdentities(std::vector<DriveIdentity>& list, platform::Output& out);

}  // namespace scsi
