// The iostatus command: pending I/O per path, with the physical drive that
// carries each path's disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsm/model.h"
#include "platform/output.h"
#include "scsi/drives.h"

namespace dsm {

/// The process-wide list of drive identifiers and drive numbers, with the
/// flag that says the drives have not been scanned yet.
struct DiskNames {
  std::vector<scsi::DriveIdentity> drives;
  bool scanNeeded = true;
};
DiskNames& DiskNameList();

/// Handler of iostatus [rescan]; words[0] is the command word. Scans the
/// drives when none were scanned or a prefix of "rescan" asks for it (the
/// list is rebuilt, so renumbered drives show their new number), then
/// writes the table unless the DSM reports no paths. Always returns 0.
int ShowIoStatus(platform::Output& out, int count, const char* const* words);

/// The PathIdentifier of the first descriptor with `scsiAddressKey`, or 0.
uint64_t PathIdOfKey(const std::string& scsiAddressKey,
                     const std::vector<PathDescriptor>& descriptors);

/// The number of the first drive with identifier `serialNumber`, or -1.
int32_t DriveOfKey(const std::string& serialNumber,
                   const std::vector<scsi::DriveIdentity>& drives);

}  // namespace dsm
