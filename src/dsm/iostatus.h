// The iostatus command: pending I/O per path, with the physical drive that
// carries each path's disk.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
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

/// The two joins of the table, indexed once per command so each row costs
/// a lookup, with the results of walking the lists in order: a key or
/// serial number that occurs more than once finds its first occurrence.
class IoStatusJoin {
 public:
  /// Indexes both lists (the index keeps copies of what it needs).
  IoStatusJoin(const std::vector<PathDescriptor>& descriptors,
               const std::vector<scsi::DriveIdentity>& drives);

  /// The PathIdentifier of the first descriptor with `scsiAddressKey`, or 0.
  uint64_t PathIdOfKey(const std::string& scsiAddressKey) const;
  /// The number of the first drive with identifier `serialNumber`, or -1.
  int32_t DriveOfKey(const std::string& serialNumber) const;

 private:
  std::unordered_map<std::string, uint64_t> pathIdByKey_;
  std::unordered_map<std::string, int32_t> driveBySerial_;
};

}  // namespace dsm
