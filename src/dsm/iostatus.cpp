#include "dsm/iostatus.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace dsm {

namespace {

// Any non-empty prefix of "rescan", in any letter case.
bool AsksForRescan(std::string_view word) {
  constexpr std::string_view kRescan = "rescan";
  if (word.empty() || word.size() > kRescan.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != kRescan[i]) return false;
  }
  return true;
}

std::string TableRow(const PathPerf& record, const IoStatusJoin& join) {
  uint32_t ioCounter = record.NumberReads + record.NumberWrites;
  char head[96];
  std::snprintf(head, sizeof head, " %08" PRIx64 "  %-14" PRIu32 "%-12" PRIu32 "%-8" PRId32,
                join.PathIdOfKey(record.ScsiAddressKey), record.PendingIOs, ioCounter,
                join.DriveOfKey(record.SerialNumber));
  std::string row = head + record.SerialNumber;
  if (record.SerialNumber.size() < 14) row.append(14 - record.SerialNumber.size(), ' ');
  return row + record.State;
}

}  // namespace

DiskNames& DiskNameList() {
  static DiskNames names;
  return names;
}

IoStatusJoin::IoStatusJoin(const std::vector<PathDescriptor>& descriptors,
                           const std::vector<scsi::DriveIdentity>& drives) {
  pathIdByKey_.reserve(descriptors.size());
  for (const PathDescriptor& descriptor : descriptors) {
    pathIdByKey_.try_emplace(descriptor.ScsiAddressKey, descriptor.PathIdentifier);
  }
  driveBySerial_.reserve(drives.size());
  for (const scsi::DriveIdentity& drive : drives) {
    driveBySerial_.try_emplace(drive.Identifier, drive.Number);
  }
}

uint64_t IoStatusJoin::PathIdOfKey(const std::string& scsiAddressKey) const {
  auto hit = pathIdByKey_.find(scsiAddressKey);
  return hit == pathIdByKey_.end() ? 0 : hit->second;
}

int32_t IoStatusJoin::DriveOfKey(const std::string& serialNumber) const {
  auto hit = driveBySerial_.find(serialNumber);
  return hit == driveBySerial_.end() ? -1 : hit->second;
}

int ShowIoStatus(platform::Output& out, int count, const char* const* words) {
  DiskNames& names = DiskNameList();
  if (names.scanNeeded || (count >= 2 && AsksForRescan(words[1]))) {
    // A fresh list: an earlier scan's numbers would win over the current ones.
    names.drives.clear();
    scsi::CollectDriveIdentities(names.drives, out);
    names.scanNeeded = false;
  }
  std::vector<PathPerf> perf;
  std::vector<PathDescriptor> descriptors;
  LoadPathPerf(perf);
  LoadPathDescriptors(descriptors);
  if (perf.empty()) return 0;
  out.Line("");
  out.Line(" PathId    PendingIOs    IOCounter   Device  SerialNumber  Status  ");
  out.Line(" " + std::string(66, '-'));
  const IoStatusJoin join(descriptors, names.drives);
  for (const PathPerf& record : perf) out.Line(TableRow(record, join));
  out.Line("");
  return 0;
}

}  // namespace dsm
